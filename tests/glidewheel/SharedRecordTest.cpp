// The shared record is read by processes built at other times: every field
// must sit at its fixed offset, little-endian.
#include <gtest/gtest.h>

#include <cstring>

#include "Library.h"
#include "SharedRecord.h"

namespace glidewheel {
namespace {

std::uint32_t Word(const unsigned char* b, int at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST(SharedRecord, EveryFieldAtItsOffset) {
    SharedRecord r;
    std::memset(&r, 0xEE, sizeof r);
    r.firstWord = 0x01020304;
    for (std::uint32_t i = 0; i < kTrackedWindows; ++i) {
        r.paintWindows[i] = 0x1000 + i;
        r.zoomWindows[i] = 0x2000 + i;
    }
    r.paintCount = 7;
    r.paintTracking = 1;
    r.paintSeen = 1;
    r.ctrlWheelTick = 0xA0B0C0D0;
    r.zoomCount = 3;
    r.lastDelta = -120;
    r.zoomButtonsWindow = 0x00ABCDEF;
    r.zoomPending = 1;
    r.cursorCaptured = 1;

    unsigned char b[112];
    static_assert(sizeof b == sizeof r);
    std::memcpy(b, &r, sizeof b);
    EXPECT_EQ(b[0], 0x04);
    EXPECT_EQ(Word(b, 0), 0x01020304u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(Word(b, 4 + 4 * i), 0x1000u + i);
        EXPECT_EQ(Word(b, 60 + 4 * i), 0x2000u + i);
    }
    EXPECT_EQ(Word(b, 44), 7u);
    EXPECT_EQ(b[48], 1);
    EXPECT_EQ(b[49], 1);
    EXPECT_EQ(Word(b, 52), 0xA0B0C0D0u);
    EXPECT_EQ(Word(b, 56), 3u);
    EXPECT_EQ(Word(b, 100), 0xFFFFFF88u);  // -120
    EXPECT_EQ(Word(b, 104), 0x00ABCDEFu);
    EXPECT_EQ(b[108], 1);
    EXPECT_EQ(b[109], 1);
}

TEST(SharedRecord, InstallClearsTheTrackersButNotTheZoomButtonsWindow) {
    SharedRecord r;
    std::memset(&r, 0x5A, sizeof r);
    ResetAfterInstall(r);
    EXPECT_EQ(r.firstWord, 0u);
    EXPECT_EQ(r.paintWindows[0], 0u);
    EXPECT_EQ(r.paintCount, 0u);
    EXPECT_EQ(r.paintTracking, 0);
    EXPECT_EQ(r.paintSeen, 0);
    EXPECT_EQ(r.ctrlWheelTick, 0u);
    EXPECT_EQ(r.zoomCount, 0u);
    for (auto w : r.zoomWindows) EXPECT_EQ(w, 0u);
    EXPECT_EQ(r.lastDelta, 0);
    EXPECT_EQ(r.zoomPending, 0);
    EXPECT_EQ(r.cursorCaptured, 0);
    EXPECT_EQ(r.zoomButtonsWindow, 0x5A5A5A5Au);
}

}  // namespace
}  // namespace glidewheel
