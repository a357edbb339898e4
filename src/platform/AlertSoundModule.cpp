// The module that carries libcanberra and the codecs it loads: the alert sound is the only
// part of the app that plays one.
#include <canberra.h>
#include <memory>

namespace {
struct ContextDeleter {
    void operator()(ca_context *context) const { ca_context_destroy(context); }
};

// Playback is asynchronous, so the context lives for the whole process.
ca_context *context() {
    static const std::unique_ptr<ca_context, ContextDeleter> shared = [] {
        ca_context *created = nullptr;
        if (ca_context_create(&created) != CA_SUCCESS)
            return std::unique_ptr<ca_context, ContextDeleter>();
        ca_context_change_props(created, CA_PROP_APPLICATION_NAME, "Zelvane",
                                CA_PROP_APPLICATION_ID, "app.zelvane.Zelvane", nullptr);
        return std::unique_ptr<ca_context, ContextDeleter>(created);
    }();
    return shared.get();
}

bool playEvent(ca_context *ctx, const char *eventId) {
    return ca_context_play(ctx, 0, CA_PROP_EVENT_ID, eventId, CA_PROP_EVENT_DESCRIPTION,
                           "Meeting reminder", nullptr) == CA_SUCCESS;
}
} // namespace

extern "C" __attribute__((visibility("default"))) bool zelvane_alert_sound_play() {
    ca_context *ctx = context();
    if (!ctx)
        return false;
    return playEvent(ctx, "alarm-clock-elapsed") || playEvent(ctx, "bell");
}
