// The 112-byte record that every process that loads the library maps under
// one name. Its layout is fixed: processes built at different times share it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glidewheel {

constexpr const char* kSharedRecordName = "GlidewheelData";
constexpr std::uint32_t kTrackedWindows = 10;

struct SharedRecord {
    std::uint32_t firstWord;
    std::uint32_t paintWindows[kTrackedWindows];
    std::uint32_t paintCount;
    std::uint8_t paintTracking;
    std::uint8_t paintSeen;
    std::uint8_t padding1[2];
    std::uint32_t ctrlWheelTick;
    std::uint32_t zoomCount;
    std::uint32_t zoomWindows[kTrackedWindows];
    std::int32_t lastDelta;
    std::uint32_t zoomButtonsWindow;
    std::uint8_t zoomPending;
    std::uint8_t cursorCaptured;
    std::uint8_t padding2[2];
};

static_assert(sizeof(SharedRecord) == 112);
static_assert(offsetof(SharedRecord, firstWord) == 0);
static_assert(offsetof(SharedRecord, paintWindows) == 4);
static_assert(offsetof(SharedRecord, paintCount) == 44);
static_assert(offsetof(SharedRecord, paintTracking) == 48);
static_assert(offsetof(SharedRecord, paintSeen) == 49);
static_assert(offsetof(SharedRecord, ctrlWheelTick) == 52);
static_assert(offsetof(SharedRecord, zoomCount) == 56);
static_assert(offsetof(SharedRecord, zoomWindows) == 60);
static_assert(offsetof(SharedRecord, lastDelta) == 100);
static_assert(offsetof(SharedRecord, zoomButtonsWindow) == 104);
static_assert(offsetof(SharedRecord, zoomPending) == 108);
static_assert(offsetof(SharedRecord, cursorCaptured) == 109);

}  // namespace glidewheel
