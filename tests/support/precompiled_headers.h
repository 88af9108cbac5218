#pragma once
// What nearly every test file includes, parsed once per build tree into a
// precompiled header that the test programs share (tests/CMakeLists.txt).
// Each file still includes what it uses.
#ifdef _WIN32
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>
