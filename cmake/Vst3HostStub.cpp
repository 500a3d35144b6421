// Gives the VST3 host library a source of its own; the framework modules linked into it supply the rest.
