#include "companions/manager_knobs.h"

#include "companions/environment.h"

namespace zyp::companions {

ManagerKnobs ManagerKnobs::FromEnvironment() {
  ManagerKnobs knobs;
  knobs.noPipe = EnvironmentNumber(u"ZYP_QM_NO_PIPE", 0) != 0;
  knobs.busy = EnvironmentNumber(u"ZYP_QM_BUSY", 0) != 0;
  knobs.noRead = EnvironmentNumber(u"ZYP_QM_NO_READ", 0) != 0;
  knobs.slowReadMs = EnvironmentNumber(u"ZYP_QM_SLOW_READ_MS", 0);
  knobs.reply = EnvironmentText(u"ZYP_QM_REPLY");
  knobs.flood = EnvironmentText(u"ZYP_QM_FLOOD");
  knobs.floodMb = EnvironmentNumber(u"ZYP_QM_FLOOD_MB", knobs.floodMb);
  knobs.closeAfter = EnvironmentNumber(u"ZYP_QM_CLOSE_AFTER", 0);
  knobs.hangUp = EnvironmentNumber(u"ZYP_QM_HANG_UP", 0) != 0;
  knobs.hangUpUnread = EnvironmentNumber(u"ZYP_QM_HANG_UP_UNREAD", 0) != 0;
  knobs.idleMs = EnvironmentNumber(u"ZYP_QM_IDLE_MS", knobs.idleMs);
  return knobs;
}

}  // namespace zyp::companions
