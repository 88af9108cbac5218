#pragma once
// The queue manager's pipe as clients open it.
namespace zyp::companions {

inline constexpr wchar_t kManagerPipePath[] = L"\\\\.\\pipe\\ZYPQueueURLPipeServer";

}  // namespace zyp::companions
