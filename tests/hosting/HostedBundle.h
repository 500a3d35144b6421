#pragma once

// What the hosting suites share: where the built bundle is, how to open its module binary directly, the message
// loop, a layout in our bus shape, and the X atoms a bare X server lacks.
#include <juce_audio_processors/juce_audio_processors.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#define NOGDI
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace hosting {

// The bundle the build made, or the one TOLMAR_VST3_BUNDLE names (an installed copy, a copy in another folder).
inline juce::File bundle()
{
    const juce::String chosen = juce::SystemStats::getEnvironmentVariable("TOLMAR_VST3_BUNDLE", {});
    return juce::File{chosen.isNotEmpty() ? chosen : juce::String(TOLMAR_VST3_BUNDLE)};
}

// The module binary inside the bundle, where the VST3 format puts it for this platform.
inline juce::File moduleBinary()
{
#ifdef _WIN32
    return bundle().getChildFile("Contents").getChildFile("x86_64-win").getChildFile("Tolmar Vez.vst3");
#else
    return bundle().getChildFile("Contents").getChildFile("x86_64-linux").getChildFile("Tolmar Vez.so");
#endif
}

// What a host hands to the framework's VST3 format: the bundle folder on Linux, the module binary on Windows
// (this framework version resolves bundle folders only on Linux).
inline juce::File pluginFile()
{
#ifdef _WIN32
    return moduleBinary();
#else
    return bundle();
#endif
}

// The module binary opened directly, as a host's loader does, with its symbols looked up by name.
class LoadedModule {
public:
    explicit LoadedModule(const juce::File& file)
    {
#ifdef _WIN32
        handle = LoadLibraryW(file.getFullPathName().toWideCharPointer());
        if (handle == nullptr)
            error = "LoadLibrary failed with error " + juce::String(static_cast<int>(GetLastError()));
#else
        handle = dlopen(file.getFullPathName().toRawUTF8(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            error = dlerror();
#endif
    }
    ~LoadedModule()
    {
        if (handle == nullptr)
            return;
#ifdef _WIN32
        FreeLibrary(handle);
#else
        dlclose(handle);
#endif
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool isOpen() const { return handle != nullptr; }
    const juce::String& failure() const { return error; }
    void* nativeHandle() const { return reinterpret_cast<void*>(handle); }

    template <typename Function>
    Function find(const char* name) const
    {
#ifdef _WIN32
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(handle, name)));
#else
        return reinterpret_cast<Function>(dlsym(handle, name));
#endif
    }

private:
#ifdef _WIN32
    HMODULE handle = nullptr;
#else
    void* handle = nullptr;
#endif
    juce::String error;
};

// Lets the framework's VST3 host deliver what it learns through the message loop (latency, parameter changes).
inline void pumpMessages(int milliseconds = 50)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

// A bare X server (Xvfb without a window manager) lacks the window-manager atoms that the framework only looks up
// and never creates, and setting a window property with a missing atom fails with BadAtom. A desktop always has
// them; create them before either copy of the framework (ours and the plug-in's) opens its display, so a window
// opens as it would there. The connection stays open: a bare server resets, forgetting its atoms, when its last
// client leaves. Returns false without a display. Windows has no such step.
inline bool internWindowManagerAtoms()
{
#ifdef _WIN32
    return true;
#else
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (x11 == nullptr)
        return false;
    using OpenDisplay = void* (*)(const char*);
    using InternAtom = unsigned long (*)(void*, const char*, int);
    auto openDisplay = reinterpret_cast<OpenDisplay>(dlsym(x11, "XOpenDisplay"));
    auto internAtom = reinterpret_cast<InternAtom>(dlsym(x11, "XInternAtom"));
    if (openDisplay == nullptr || internAtom == nullptr)
        return false;
    void* display = openDisplay(nullptr);
    if (display == nullptr)
        return false;
    for (const char* name : {"WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE", "WM_STATE",
                             "_NET_WM_PING", "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_NORMAL",
                             "_NET_WM_WINDOW_TYPE_COMBO", "_NET_WM_STATE", "_NET_WM_STATE_HIDDEN",
                             "_NET_WM_STATE_FULLSCREEN", "_NET_WM_ALLOWED_ACTIONS", "_NET_FRAME_EXTENTS",
                             "_NET_WORKAREA", "_MOTIF_WM_HINTS", "_WIN_HINTS", "KWM_WIN_DECORATION",
                             "_KDE_NET_WM_WINDOW_TYPE_OVERRIDE"})
        internAtom(display, name, 0);
    return true;
#endif
}

// Main input and output `main`, side-chain `beat`.
inline juce::AudioProcessor::BusesLayout layoutOf(juce::AudioChannelSet main, juce::AudioChannelSet beat)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(main);
    layout.inputBuses.add(beat);
    layout.outputBuses.add(main);
    return layout;
}

} // namespace hosting
