// The editor hosted on Windows at the display's scale (Wine's DPI setting under test): the host sizes its window
// for the scale and tells the plug-in's view, whose windows must fill it exactly, at the scaled size. Pictures of
// the window as the screen shows it land in $TOLMAR_SCREENSHOT_DIR (default editor-screenshots/) as
// hosted-<language>-<percent>.png, for a person to look at: crisp text, nothing clipped.
#include <juce_audio_processors/juce_audio_processors.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "HostedBundle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <vector>

namespace {

#ifdef _WIN32

// DAWs on Windows 10 and 11 are aware of each monitor's scale and draw their windows at it; so is this host,
// from before its first window. The calls are looked up, as older headers lack them; Wine has only the older call
// (per monitor, Windows 8.1), which sizes windows the same way on one monitor.
const bool perMonitorAware = [] {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    const auto setContext = reinterpret_cast<SetContext>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    const auto perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-4));
    if (setContext != nullptr && setContext(perMonitorV2) != FALSE)
        return true;
    // Otherwise through shcore (Windows 8.1), which also says when the process is per-monitor aware already.
    HMODULE shcore = LoadLibraryW(L"shcore.dll");
    using SetAwareness = HRESULT(WINAPI*)(int);
    using GetAwareness = HRESULT(WINAPI*)(HANDLE, int*);
    const auto setAwareness =
        reinterpret_cast<SetAwareness>(reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
    const auto getAwareness =
        reinterpret_cast<GetAwareness>(reinterpret_cast<void*>(GetProcAddress(shcore, "GetProcessDpiAwareness")));
    constexpr int perMonitor = 2;
    if (setAwareness != nullptr)
        setAwareness(perMonitor);
    int awareness = 0;
    return getAwareness != nullptr && SUCCEEDED(getAwareness(nullptr, &awareness)) && awareness == perMonitor;
}();

juce::File screenshotDirectory()
{
    const char* chosen = std::getenv("TOLMAR_SCREENSHOT_DIR");
    return juce::File::getCurrentWorkingDirectory().getChildFile(chosen != nullptr ? chosen : "editor-screenshots");
}

struct ClientSize {
    int width = 0;
    int height = 0;
    bool operator==(const ClientSize& other) const { return width == other.width && height == other.height; }
    friend std::ostream& operator<<(std::ostream& out, const ClientSize& size)
    {
        return out << size.width << " x " << size.height;
    }
};

double displayScale()
{
    HDC screen = GetDC(nullptr);
    const int dotsPerInch = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dotsPerInch / 96.0;
}

ClientSize clientSizeOf(HWND window)
{
    RECT area{};
    GetClientRect(window, &area);
    return {area.right - area.left, area.bottom - area.top};
}

std::vector<HWND> descendantsOf(HWND window)
{
    std::vector<HWND> found;
    EnumChildWindows(
        window,
        [](HWND child, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The window's client area as the screen shows it.
juce::Image screenImageOf(HWND window)
{
    const ClientSize size = clientSizeOf(window);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = size.width;
    format.bmiHeader.biHeight = -size.height; // top row first
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, size.width, size.height, screen, origin.x, origin.y, SRCCOPY);
    GdiFlush();
    juce::Image image(juce::Image::RGB, size.width, size.height, false);
    juce::Image::BitmapData pixels(image, juce::Image::BitmapData::writeOnly);
    const auto* source = static_cast<const std::uint8_t*>(bits);
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            const std::uint8_t* bgr = source + (static_cast<std::size_t>(y) * size.width + x) * 4;
            pixels.setPixelColour(x, y, juce::Colour(bgr[2], bgr[1], bgr[0]));
        }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}

int differingPixels(const juce::Image& a, const juce::Image& b)
{
    if (a.getBounds() != b.getBounds())
        return a.getWidth() * a.getHeight();
    int differing = 0;
    for (int y = 0; y < a.getHeight(); ++y)
        for (int x = 0; x < a.getWidth(); ++x)
            differing += a.getPixelAt(x, y) != b.getPixelAt(x, y);
    return differing;
}

#endif

TEST(HostedEditor, FillsItsWindowAtTheDisplayScale)
{
#ifndef _WIN32
    GTEST_SKIP() << "the display scale of a Windows host";
#else
    ASSERT_TRUE(perMonitorAware);
    juce::AudioPluginFormatManager formats;
    formats.addFormat(new juce::VST3PluginFormat());
    juce::OwnedArray<juce::PluginDescription> found;
    formats.getFormat(0)->findAllTypesForFile(found, hosting::pluginFile().getFullPathName());
    ASSERT_EQ(found.size(), 1);
    const juce::File directory = screenshotDirectory();
    ASSERT_TRUE(directory.createDirectory());

    struct Language {
        const char* name;
        int index;
    };
    for (const Language language : {Language{"english", 2}, Language{"arabic", 27}, Language{"japanese", 5}}) {
        SCOPED_TRACE(language.name);
        juce::String error;
        auto plugin = formats.createPluginInstance(*found[0], 48000.0, 512, error);
        ASSERT_NE(plugin, nullptr) << error;
        plugin->getParameters()[3]->setValueNotifyingHost(static_cast<float>(language.index) / 175.0f);
        std::unique_ptr<juce::AudioProcessorEditor> editor(plugin->createEditorIfNeeded());
        ASSERT_NE(editor, nullptr);
        // The display's scale, passed to the plug-in's view before the window shows, as a DAW does
        // (IPlugViewContentScaleSupport).
        const double scale = displayScale();
        editor->setScaleFactor(static_cast<float>(scale));
        editor->setVisible(true);
        editor->addToDesktop(0);
        hosting::pumpMessages(600);
        ASSERT_NE(editor->getPeer(), nullptr);
        const auto host = static_cast<HWND>(editor->getPeer()->getNativeHandle());

        const ClientSize expected{static_cast<int>(std::lround(920 * scale)),
                                  static_cast<int>(std::lround(670 * scale))};
        EXPECT_EQ(clientSizeOf(host), expected) << "scale " << scale;
        // The plug-in's windows fill the host's exactly: nothing clipped, no unpainted margin.
        const auto children = descendantsOf(host);
        EXPECT_FALSE(children.empty());
        for (HWND child : children) {
            const ClientSize size = clientSizeOf(child);
            EXPECT_EQ(size, expected) << "a plug-in window";
        }

        // What the window shows is what it shows once everything is painted again: nothing is left from a
        // first picture at another scale.
        const juce::Image shot = screenImageOf(host);
        for (HWND window : children)
            InvalidateRect(window, nullptr, FALSE);
        hosting::pumpMessages(600);
        const juce::Image again = screenImageOf(host);
        EXPECT_EQ(differingPixels(shot, again), 0) << "stale pixels";
        const int percent = static_cast<int>(std::lround(scale * 100));
        const juce::File file =
            directory.getChildFile(juce::String("hosted-") + language.name + "-" + juce::String(percent) + ".png");
        file.deleteFile();
        juce::FileOutputStream out(file);
        ASSERT_TRUE(out.openedOk()) << file.getFullPathName();
        juce::PNGImageFormat png;
        ASSERT_TRUE(png.writeImageToStream(shot, out));

        editor.reset();
        plugin.reset();
        hosting::pumpMessages(50);
    }
#endif
}

} // namespace
