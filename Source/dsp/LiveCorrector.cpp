#include "dsp/LiveCorrector.h"

#include "dsp/MathConstants.h"
#include "dsp/PitchDetector.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tolmar {

namespace {

constexpr double pi = twoPi / 2.0;

int atRate(int samplesAt48k, double sampleRateHz)
{
    return std::max(1, static_cast<int>(std::lround(samplesAt48k * sampleRateHz / 48000.0)));
}

// Raised-cosine window of a grain at `offset` samples from its centre: rises over fadeIn, falls over fadeOut.
double grainWindow(double offset, int fadeIn, int fadeOut) noexcept
{
    if (offset < 0.0)
        return 0.5 - 0.5 * std::cos(pi * (offset + fadeIn) / fadeIn);
    return 0.5 + 0.5 * std::cos(pi * offset / fadeOut);
}

} // namespace

void LiveCorrector::prepare(int channels, double sampleRateHz)
{
    channelCount = std::clamp(channels, 1, 2);
    fadeInSamples = atRate(144, sampleRateHz);
    lookAheadSamples = atRate(48, sampleRateHz);
    minPeriod = std::max(2, static_cast<int>(sampleRateHz / 1000.0));
    maxPeriod = static_cast<int>(std::ceil(sampleRateHz / 60.0));
    unvoicedSpacing = fadeInSamples;
    // The oldest sample a grain reads lies two of the longest periods, slowed by the formant factor, before the
    // newest input.
    std::int64_t capacity = 1;
    while (capacity < 8 * static_cast<std::int64_t>(maxPeriod) + 4 * latency())
        capacity *= 2;
    historyMask = capacity - 1;
    for (int channel = 0; channel < 2; ++channel)
        history[static_cast<std::size_t>(channel)].assign(channel < channelCount ? static_cast<std::size_t>(capacity) : 0,
                                                          0.0f);
    summed.assign(static_cast<std::size_t>(capacity), 0.0f);
    reset();
}

void LiveCorrector::reset() noexcept
{
    for (auto& channel : history)
        std::fill(channel.begin(), channel.end(), 0.0f);
    std::fill(summed.begin(), summed.end(), 0.0f);
    written = 0;
    newestMark = -1;
    nextSynthesisMark = 0.0;
    activeGrains = 0;
    listening = false;
    identityGrainNext = false;
}

void LiveCorrector::setPitch(float periodSamples, float newRatio, float newFormantFactor) noexcept
{
    period = std::isfinite(periodSamples) && periodSamples >= static_cast<float>(minPeriod)
                 ? std::min(periodSamples, static_cast<float>(maxPeriod))
                 : 0.0f;
    ratio = std::isfinite(newRatio) ? std::clamp(newRatio, 0.5f, 2.0f) : 1.0f;
    formantFactor = std::isfinite(newFormantFactor) ? std::clamp(newFormantFactor, 0.5f, 2.0f) : 1.0f;
}

void LiveCorrector::placeMarks() noexcept
{
    const std::int64_t newestInput = written - 1;
    for (;;) {
        const std::int64_t last =
            newestMark >= 0 ? marks[static_cast<std::size_t>(newestMark)].position : -unvoicedSpacing;
        Mark mark;
        if (period > 0.0f) {
            // The waveform's highest point from half a period before one period on to a quarter period (at most
            // the look-ahead) after it. The wide early side lets marks that landed on a lesser peak (after a
            // pitch jump or an unvoiced stretch) find the main one again within a period.
            const int reach = std::min(static_cast<int>(period / 4.0f), lookAheadSamples);
            const auto earlyReach = static_cast<std::int64_t>(period / 2.0f);
            std::int64_t predicted = last + static_cast<std::int64_t>(std::lround(period));
            if (predicted + reach > newestInput)
                return;
            predicted = std::max(predicted, newestInput - reach); // marks fell behind: catch up
            std::int64_t best = std::max(predicted - earlyReach, last + 1);
            for (std::int64_t time = best + 1; time <= predicted + reach; ++time)
                if (summed[static_cast<std::size_t>(time & historyMask)] >
                    summed[static_cast<std::size_t>(best & historyMask)])
                    best = time;
            const auto at = [this](std::int64_t time) { return summed[static_cast<std::size_t>(time & historyMask)]; };
            const bool inside = best > last + 1 && best < newestInput;
            const double peak = inside ? refinePeriod(0, at(best - 1), at(best), at(best + 1)) : 0.0;
            mark = {best, static_cast<double>(best) + std::clamp(peak, -0.5, 0.5), period};
        } else {
            if (last + unvoicedSpacing > newestInput)
                return;
            const std::int64_t position = std::max(last + unvoicedSpacing, newestInput - lookAheadSamples);
            mark = {position, static_cast<double>(position), 0.0f};
        }
        newestMark = (newestMark + 1) % markCount;
        marks[static_cast<std::size_t>(newestMark)] = mark;
    }
}

const LiveCorrector::Mark* LiveCorrector::markAtOrBefore(double limit) const noexcept
{
    if (newestMark < 0)
        return nullptr;
    for (int age = 0; age < markCount; ++age) {
        const Mark& mark = marks[static_cast<std::size_t>((newestMark - age + markCount) % markCount)];
        if (mark.peak <= limit)
            return &mark;
    }
    return nullptr;
}

void LiveCorrector::startGrains(std::int64_t outputTime) noexcept
{
    while (nextSynthesisMark - fadeInSamples <= static_cast<double>(outputTime)) {
        const bool identity = std::exchange(identityGrainNext, false);
        // Unvoiced grains read their own output time, on whole samples, so that noise passes exactly.
        if (identity || !(period > 0.0f))
            nextSynthesisMark = std::round(nextSynthesisMark);
        const double centre = nextSynthesisMark;
        Grain grain;
        grain.centre = centre;
        grain.source = centre;
        grain.fadeIn = fadeInSamples;
        double spacing = unvoicedSpacing;
        if (identity) {
            grain.fadeOut = unvoicedSpacing;
        } else if (period > 0.0f) {
            // A grain reads at most latency() samples ahead of its output time; a faster read starts earlier.
            const float longest = std::max(period, period / ratio);
            const double early = std::max(0.0f, longest * (formantFactor - 1.0f) - static_cast<float>(latency()));
            const Mark* mark = markAtOrBefore(centre - early);
            const bool nearVoicedMark = mark != nullptr && mark->period > 0.0f && centre - mark->peak <= maxPeriod;
            const float markPeriod = nearVoicedMark ? mark->period : period;
            grain.source = nearVoicedMark ? mark->peak : centre - early;
            grain.fadeOut = static_cast<int>(std::ceil(std::max(markPeriod, markPeriod / ratio)));
            grain.rate = formantFactor;
            spacing = period / ratio;
        } else {
            grain.fadeOut = unvoicedSpacing;
        }
        if (activeGrains == grainCount) { // cannot happen within the clamped ratios; the oldest goes
            std::move(grains.begin() + 1, grains.end(), grains.begin());
            --activeGrains;
        }
        grains[static_cast<std::size_t>(activeGrains++)] = grain;
        nextSynthesisMark += std::max(1.0, spacing);
    }
}

float LiveCorrector::inputAt(int channel, double time) const noexcept
{
    const std::vector<float>& samples = history[static_cast<std::size_t>(channel)];
    const double whole = std::floor(time);
    const auto index = static_cast<std::int64_t>(whole);
    const auto fraction = static_cast<float>(time - whole);
    const float here = samples[static_cast<std::size_t>(index & historyMask)];
    if (fraction == 0.0f)
        return here;
    const float next = samples[static_cast<std::size_t>((index + 1) & historyMask)];
    return here + fraction * (next - here);
}

void LiveCorrector::keepInput(const float* const* inputs, int index) noexcept
{
    float sum = 0.0f;
    for (int channel = 0; channel < channelCount; ++channel) {
        const float value = inputs[channel][index];
        const float clean = std::isfinite(value) ? value : 0.0f;
        history[static_cast<std::size_t>(channel)][static_cast<std::size_t>(written & historyMask)] = clean;
        sum += clean;
    }
    summed[static_cast<std::size_t>(written & historyMask)] = sum;
    ++written;
    placeMarks();
}

void LiveCorrector::listen(const float* const* inputs, int samples) noexcept
{
    if (channelCount == 0)
        return;
    for (int i = 0; i < samples; ++i)
        keepInput(inputs, i);
    listening = true;
}

void LiveCorrector::process(const float* const* inputs, float* const* outputs, int samples) noexcept
{
    if (channelCount == 0)
        return;
    if (std::exchange(listening, false)) {
        // The first grain is centred on the next output sample and reads that sample's own input time: the
        // output continues the input, and the grains after it fade in over it.
        activeGrains = 0;
        nextSynthesisMark = static_cast<double>(written - latency());
        identityGrainNext = true;
    }
    std::array<double, grainCount> weight{};
    for (int i = 0; i < samples; ++i) {
        keepInput(inputs, i);

        const std::int64_t outputTime = written - 1 - latency();
        startGrains(outputTime);
        // Finished grains leave; the others weigh in by their windows.
        int kept = 0;
        for (int g = 0; g < activeGrains; ++g)
            if (static_cast<double>(outputTime) - grains[static_cast<std::size_t>(g)].centre <
                grains[static_cast<std::size_t>(g)].fadeOut)
                grains[static_cast<std::size_t>(kept++)] = grains[static_cast<std::size_t>(g)];
        activeGrains = kept;
        double totalWeight = 0.0;
        for (int g = 0; g < activeGrains; ++g) {
            const Grain& grain = grains[static_cast<std::size_t>(g)];
            const double offset = static_cast<double>(outputTime) - grain.centre;
            weight[static_cast<std::size_t>(g)] = offset > -grain.fadeIn ? grainWindow(offset, grain.fadeIn, grain.fadeOut) : 0.0;
            totalWeight += weight[static_cast<std::size_t>(g)];
        }
        for (int channel = 0; channel < channelCount; ++channel) {
            if (!(totalWeight > 1e-9)) {
                outputs[channel][i] = inputAt(channel, static_cast<double>(outputTime));
                continue;
            }
            double mixed = 0.0;
            for (int g = 0; g < activeGrains; ++g) {
                const Grain& grain = grains[static_cast<std::size_t>(g)];
                const double read = grain.source + (static_cast<double>(outputTime) - grain.centre) * grain.rate;
                mixed += weight[static_cast<std::size_t>(g)] * inputAt(channel, read);
            }
            outputs[channel][i] = static_cast<float>(mixed / totalWeight);
        }
    }
}

} // namespace tolmar
