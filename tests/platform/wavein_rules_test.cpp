// The queue rules of waveIn that the capture library relies on, as the Windows documentation
// gives them: every backend's tests run them.
#include "wavein_fixture.h"

namespace {

using WaveInRulesTest = WaveInFixture<1600>;

TEST_F(WaveInRulesTest, QueueRulesFollowTheDocumentation) {
    EXPECT_EQ(waveInAddBuffer(device, &headers[0], sizeof(WAVEHDR)), WAVERR_UNPREPARED);
    queue(0);
    EXPECT_TRUE(headers[0].dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(waveInAddBuffer(device, &headers[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING) << "queued twice";
    EXPECT_EQ(waveInUnprepareHeader(device, &headers[0], sizeof(WAVEHDR)), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInClose(device), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveInAddBuffer(device, &headers[1], 12), MMSYSERR_INVALPARAM);
}

}  // namespace
