#include "TalverinAudio/linux/InputMutePulse.h"

#include <pulse/pulseaudio.h>

namespace talverin::InputMutePulse {

namespace {

struct SourceReply : PulseConnection::Call {
    using Call::Call;
    bool found = false;
    bool muted = false;
    pa_volume_t volume = PA_VOLUME_NORM;
};

void readSource(pa_context* context, const pa_source_info* info, int eol, void* userdata) {
    auto* reply = static_cast<SourceReply*>(userdata);
    if (reply->finishesAt(context, eol, info))
        return;
    reply->found = true;
    reply->muted = info->mute != 0;
    if (pa_cvolume_valid(&info->volume))
        reply->volume = pa_cvolume_max(&info->volume);
}

} // namespace

bool isMuted(PulseConnection& connection, std::uint32_t source) {
    SourceReply reply(connection);
    int status = connection.perform(reply, [&](pa_context* context) {
        return pa_context_get_source_info_by_index(context, source, readSource, &reply);
    });
    if (status != 0 || !reply.found)
        return false;
    return reply.muted || reply.volume <= PA_VOLUME_MUTED;
}

} // namespace talverin::InputMutePulse
