#pragma once

// What the hosting suites share: where the built bundle is, how to open its module binary directly, the message
// loop, and a layout in our bus shape.
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

inline juce::File bundle() { return juce::File{juce::String(TOLMAR_VST3_BUNDLE)}; }

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
