// Preloaded into the real binary by end-to-end tests: each teardown step that
// leaves the process (audio output closed, GLFW terminated, zip directory
// closed) writes its name to standard error before it runs, so a test sees
// which steps ran and in what order. Nothing else changes.
#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

void note(const char* step) {
    const std::size_t length = std::strlen(step);
    if (::write(2, step, length) != static_cast<ssize_t>(length)) return;
    [[maybe_unused]] const ssize_t ignored = ::write(2, "\n", 1);
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

// The audio output closes when its thread, named so by the audio layer, is
// joined: the same step with a sound card, a sound server or the silent output.
int pthread_join(pthread_t thread, void** result) {
    char name[16] = {};
    if (pthread_getname_np(thread, name, sizeof name) == 0 && std::strcmp(name, "tessaran-audio") == 0)
        note("audio closed");
    return next<int (*)(pthread_t, void**)>("pthread_join")(thread, result);
}

void glfwTerminate() {
    note("glfw terminated");
    next<void (*)()>("glfwTerminate")();
}

int zzip_dir_close(void* directory) {
    note("archive closed");
    return next<int (*)(void*)>("zzip_dir_close")(directory);
}

}  // extern "C"
