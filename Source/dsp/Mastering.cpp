#include "dsp/Mastering.h"

#include "dsp/OnePole.h"
#include "dsp/RingBuffer.h"

#include <algorithm>
#include <cmath>

namespace tolmar {

namespace {

// Per-sample coefficient of a smoother with the given time constant.
float timeConstant(double seconds, double sampleRate)
{
    return timeConstantCoefficient(1.0, seconds * sampleRate);
}

} // namespace

void Mastering::prepare(int latencySamples, double sampleRateHz)
{
    const int length = std::max(1, latencySamples);
    for (auto& line : delay)
        line.assign(static_cast<std::size_t>(length), 0.0f);
    peaks.assign(static_cast<std::size_t>(length) + 1, Peak{0.0f, 0});
    lookahead = std::max(0, std::min(length - 1, static_cast<int>(0.005 * sampleRateHz)));

    dcCoef = onePoleCoefficient(20.0, sampleRateHz);
    lowCoef = onePoleCoefficient(180.0, sampleRateHz);
    highCoef = onePoleCoefficient(6000.0, sampleRateHz);
    attackCoef = timeConstant(0.03, sampleRateHz);
    releaseCoef = timeConstant(0.18, sampleRateHz);
    limiterReleaseCoef = timeConstant(0.08, sampleRateHz);
    reset();
}

void Mastering::reset() noexcept
{
    for (int side = 0; side < 2; ++side) {
        dcState[side] = 0.0f;
        lowState[side] = 0.0f;
        highState[side] = 0.0f;
        std::fill(delay[side].begin(), delay[side].end(), 0.0f);
    }
    envelope = 0.0f;
    gain = 1.0f;
    count = 0;
    head = 0;
    tail = 0;
    writePos = 0;
    sampleIndex = 0;
}

Mastering::Frame Mastering::process(float left, float right) noexcept
{
    // Tone: rumble high-pass at 20 Hz, then a little less below 180 Hz and a little more above 6 kHz.
    float shaped[2];
    const float input[2] = {left, right};
    for (int side = 0; side < 2; ++side) {
        const float x = input[side];
        dcState[side] += dcCoef * (x - dcState[side]);
        const float h = x - dcState[side];
        lowState[side] += lowCoef * (h - lowState[side]);
        highState[side] += highCoef * (h - highState[side]);
        shaped[side] = h - 0.08f * lowState[side] + 0.06f * (h - highState[side]);
    }

    // Stereo-linked mean-square detector and a 1.25:1 compressor above 0.25 RMS.
    const float m = 0.5f * shaped[0] * shaped[0] + 0.5f * shaped[1] * shaped[1];
    envelope += (m > envelope ? attackCoef : releaseCoef) * (m - envelope);
    const float r = std::sqrt(envelope);
    const float g = r > 0.25f ? std::pow(0.25f / r, 0.2f) : 1.0f;

    // Look-ahead delay: read the sample leaving now and the one leaving lookahead samples from now.
    const int length = static_cast<int>(delay[0].size());
    const auto at = static_cast<std::size_t>(ringAfter(writePos, lookahead, length));
    const auto write = static_cast<std::size_t>(writePos);
    float out[2];
    float ahead[2];
    for (int side = 0; side < 2; ++side) {
        out[side] = delay[side][write];
        ahead[side] = std::fabs(delay[side][at]);
        delay[side][write] = shaped[side] * g * 1.25f;
    }
    const float pL = std::isnan(ahead[0]) ? 0.0f : ahead[0];
    const float p = std::max(pL, ahead[1]);

    // Running maximum of the window: expire entries older than the look-ahead, drop those that the new
    // peak dominates, append. The front then holds the window's largest level.
    const int slots = static_cast<int>(peaks.size());
    while (count >= 1 && peaks[static_cast<std::size_t>(head)].index < sampleIndex - lookahead) {
        head = ringNext(head, slots);
        --count;
    }
    if (count >= 1) {
        while (count >= 1) {
            const int before = ringPrevious(tail, slots);
            if (peaks[static_cast<std::size_t>(before)].level > p)
                break;
            tail = before;
            --count;
        }
    }
    peaks[static_cast<std::size_t>(tail)] = Peak{p, sampleIndex};
    ++sampleIndex;
    const float windowMax = peaks[static_cast<std::size_t>(head)].level;

    // Limiter: instant attack, 80 ms release.
    const float target = windowMax > ceiling ? ceiling / windowMax : 1.0f;
    if (target < gain)
        gain = target;
    else
        gain += limiterReleaseCoef * (target - gain);

    tail = ringNext(tail, slots);
    ++count;
    writePos = ringNext(writePos, length);
    return Frame{out[0] * gain, out[1] * gain};
}

float Mastering::safetyClamp(float sample) noexcept
{
    return std::clamp(sample, -ceiling, ceiling);
}

} // namespace tolmar
