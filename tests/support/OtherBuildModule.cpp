// A module of another build of the program: its entry point refuses this build's version.

extern "C" __attribute__((visibility("default"))) void* pictolarium_vision_module(int) {
    return nullptr;
}

extern "C" __attribute__((visibility("default"))) void* pictolarium_heif_module(int) {
    return nullptr;
}
