// Line breaking on Windows: DirectWrite's text analyser (IDWriteTextAnalyzer::AnalyzeLineBreakpoints), which
// works on UTF-16. The analyser reads the text through a source and reports through a sink, both ours.
#include "editor/text/LineBreaker.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <dwrite.h>

#include <algorithm>

namespace tolmar::text {

namespace {

// DirectWrite's locale names for the tailoring languages; no tailoring reads as US English.
const wchar_t* localeFor(const char* language)
{
    const std::string tag = language != nullptr ? language : "";
    if (tag == "ja")
        return L"ja-JP";
    if (tag == "ko")
        return L"ko-KR";
    if (tag == "zh")
        return L"zh-CN";
    return L"en-US";
}

// The break between two UTF-16 units from the condition after the first and before the second.
BreakAfter combine(DWRITE_BREAK_CONDITION after, DWRITE_BREAK_CONDITION before)
{
    if (after == DWRITE_BREAK_CONDITION_MUST_BREAK || before == DWRITE_BREAK_CONDITION_MUST_BREAK)
        return BreakAfter::required;
    if (after == DWRITE_BREAK_CONDITION_MAY_NOT_BREAK || before == DWRITE_BREAK_CONDITION_MAY_NOT_BREAK)
        return BreakAfter::never;
    if (after == DWRITE_BREAK_CONDITION_CAN_BREAK || before == DWRITE_BREAK_CONDITION_CAN_BREAK)
        return BreakAfter::allowed;
    return BreakAfter::never;
}

// Without the analyser, lines still end at spaces and line feeds.
std::vector<BreakAfter> breaksAtSpaces(const std::u32string& text)
{
    std::vector<BreakAfter> result(text.size(), BreakAfter::never);
    for (size_t i = 0; i < text.size(); ++i)
        result[i] = text[i] == U'\n' ? BreakAfter::required : text[i] == U' ' ? BreakAfter::allowed : BreakAfter::never;
    if (!result.empty())
        result.back() = BreakAfter::required;
    return result;
}

} // namespace

// The analyser's text source and result sink in one object that lives as long as the breaker, so the reference
// counts are not used for its lifetime. COM interfaces have no virtual destructors by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct LineBreaker::Platform final : IDWriteTextAnalysisSource, IDWriteTextAnalysisSink {
    IDWriteFactory* factory = nullptr;
    IDWriteTextAnalyzer* analyzer = nullptr;
    std::wstring units;        // the text in UTF-16
    std::vector<size_t> start; // per code point, plus one at the end: its first UTF-16 unit
    const wchar_t* locale = L"en-US";
    std::vector<DWRITE_LINE_BREAKPOINT> breakpoints;

    Platform()
    {
        if (SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_ISOLATED, __uuidof(IDWriteFactory),
                                          reinterpret_cast<IUnknown**>(&factory))) &&
            FAILED(factory->CreateTextAnalyzer(&analyzer)))
            analyzer = nullptr;
    }

    virtual ~Platform()
    {
        if (analyzer != nullptr)
            analyzer->Release();
        if (factory != nullptr)
            factory->Release();
    }

    Platform(const Platform&) = delete;
    Platform& operator=(const Platform&) = delete;

    // Code points outside Unicode and lone surrogates become U+FFFD, so every code point keeps its units.
    void encode(const std::u32string& text)
    {
        units.clear();
        start.assign(text.size() + 1, 0);
        for (size_t i = 0; i < text.size(); ++i) {
            start[i] = units.size();
            char32_t c = text[i];
            if (c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff))
                c = 0xfffd;
            if (c >= 0x10000) {
                units.push_back(static_cast<wchar_t>(0xd800 + ((c - 0x10000) >> 10)));
                units.push_back(static_cast<wchar_t>(0xdc00 + ((c - 0x10000) & 0x3ff)));
            } else {
                units.push_back(static_cast<wchar_t>(c));
            }
        }
        start[text.size()] = units.size();
    }

    UINT32 unitCount() const { return static_cast<UINT32>(units.size()); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (id == __uuidof(IUnknown) || id == __uuidof(IDWriteTextAnalysisSource)) {
            *object = static_cast<IDWriteTextAnalysisSource*>(this);
            return S_OK;
        }
        if (id == __uuidof(IDWriteTextAnalysisSink)) {
            *object = static_cast<IDWriteTextAnalysisSink*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IDWriteTextAnalysisSource
    HRESULT STDMETHODCALLTYPE GetTextAtPosition(UINT32 position, const WCHAR** text, UINT32* length) override
    {
        *text = position < unitCount() ? units.data() + position : nullptr;
        *length = position < unitCount() ? unitCount() - position : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTextBeforePosition(UINT32 position, const WCHAR** text, UINT32* length) override
    {
        *text = position > 0 && position <= unitCount() ? units.data() : nullptr;
        *length = position <= unitCount() ? position : 0;
        return S_OK;
    }
    DWRITE_READING_DIRECTION STDMETHODCALLTYPE GetParagraphReadingDirection() override
    {
        return DWRITE_READING_DIRECTION_LEFT_TO_RIGHT;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleName(UINT32 position, UINT32* length, const WCHAR** name) override
    {
        *length = position < unitCount() ? unitCount() - position : 0;
        *name = locale;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNumberSubstitution(UINT32 position, UINT32* length,
                                                    IDWriteNumberSubstitution** substitution) override
    {
        *length = position < unitCount() ? unitCount() - position : 0;
        *substitution = nullptr;
        return S_OK;
    }

    // IDWriteTextAnalysisSink: only the line breakpoints are asked for.
    HRESULT STDMETHODCALLTYPE SetScriptAnalysis(UINT32, UINT32, const DWRITE_SCRIPT_ANALYSIS*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetLineBreakpoints(UINT32 position, UINT32 length,
                                                 const DWRITE_LINE_BREAKPOINT* points) override
    {
        if (position > breakpoints.size() || length > breakpoints.size() - position)
            return E_INVALIDARG;
        std::copy(points, points + length, breakpoints.begin() + position);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBidiLevel(UINT32, UINT32, UINT8, UINT8) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetNumberSubstitution(UINT32, UINT32, IDWriteNumberSubstitution*) override
    {
        return S_OK;
    }
};
#pragma GCC diagnostic pop

LineBreaker::LineBreaker()
    : platform(std::make_unique<Platform>())
{
}

LineBreaker::~LineBreaker() = default;

std::vector<BreakAfter> LineBreaker::find(const std::u32string& text, const char* language)
{
    if (text.empty())
        return {};
    Platform& analysis = *platform;
    if (analysis.analyzer == nullptr)
        return breaksAtSpaces(text);
    analysis.encode(text);
    analysis.locale = localeFor(language);
    analysis.breakpoints.assign(analysis.units.size(), DWRITE_LINE_BREAKPOINT{});
    if (FAILED(analysis.analyzer->AnalyzeLineBreakpoints(&analysis, 0, analysis.unitCount(), &analysis)))
        return breaksAtSpaces(text);

    // The break after a code point lies between its last unit and the next code point's first.
    std::vector<BreakAfter> result(text.size());
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        const DWRITE_LINE_BREAKPOINT& last = analysis.breakpoints[analysis.start[i + 1] - 1];
        const DWRITE_LINE_BREAKPOINT& next = analysis.breakpoints[analysis.start[i + 1]];
        result[i] = combine(static_cast<DWRITE_BREAK_CONDITION>(last.breakConditionAfter),
                            static_cast<DWRITE_BREAK_CONDITION>(next.breakConditionBefore));
    }
    result.back() = BreakAfter::required;
    return result;
}

} // namespace tolmar::text
