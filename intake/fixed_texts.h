#pragma once
// The fixed names and words that tie this program to its companions and its
// callers. Letter case as shown is significant wherever a test is exact.
#include <cstdint>
#include <string_view>

namespace zyp::intake {

// The queue manager and the link explorer.
inline constexpr std::u16string_view kManagerWindowClass = u"TfrmZYPQueueManager";
inline constexpr std::u16string_view kProgressMessageName = u"WM_ZYP_PROGRESS";
inline constexpr std::u16string_view kManagerProgram = u"ZYPQueueManager.exe";
inline constexpr std::u16string_view kLinkExplorerProgram = u"ZYPLinkExplorer.exe";
inline constexpr std::u16string_view kShellVerb = u"open";
inline constexpr int kShowNormal = 1;  // SW_SHOWNORMAL

// The control message: wParam 101, lParam 1 starts the queue, 0 stops it.
inline constexpr std::uintptr_t kProgressWParam = 101;
inline constexpr std::intptr_t kProgressStart = 1;
inline constexpr std::intptr_t kProgressStop = 0;

// Request words on the command line.
inline constexpr std::u16string_view kStartWord = u"START";
inline constexpr std::u16string_view kStopWord = u"STOP";
inline constexpr std::u16string_view kListPrefix = u"zypqueue=";

// The close request posted to the program's own main window.
inline constexpr std::uint32_t kCloseMessage = 16;  // WM_CLOSE

// Where the main window is moved before anything else happens.
inline constexpr int kHiddenLeft = -1000;
inline constexpr int kHiddenTop = -1000;

// The common ending's pause, which gives the pipe worker time to write.
inline constexpr std::uint32_t kClosingPauseMs = 1000;

}  // namespace zyp::intake
