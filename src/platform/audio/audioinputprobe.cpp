#include "platform/audio/audioinputprobe.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

#include <chrono>
#include <thread>

namespace {

struct Answer
{
    bool answered = false;
    bool found = false;
};

void onServerInfo(pa_context *, const pa_server_info *info, void *data)
{
    auto *answer = static_cast<Answer *>(data);
    answer->found = info && info->default_source_name && *info->default_source_name;
    answer->answered = true;
}

} // namespace

namespace AudioInputProbe {

bool hasInput()
{
    // A connection of its own each time, so the answer follows the sound server coming
    // and going. On the local socket this takes a millisecond or two.
    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Murmel");
    Answer answer;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        bool asked = false;
        while (!answer.answered && std::chrono::steady_clock::now() < deadline) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            if (state == PA_CONTEXT_READY && !asked) {
                asked = true;
                pa_operation *operation = pa_context_get_server_info(context, onServerInfo, &answer);
                if (!operation)
                    break;
                pa_operation_unref(operation);
            }
            if (pa_mainloop_iterate(loop, 0, nullptr) == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        pa_context_disconnect(context);
    }
    if (context)
        pa_context_unref(context);
    pa_mainloop_free(loop);
    return answer.found;
}

} // namespace AudioInputProbe
