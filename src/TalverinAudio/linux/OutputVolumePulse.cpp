#include "TalverinAudio/linux/OutputVolumePulse.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace talverin {

namespace {

struct SinkReply : PulseConnection::Call {
    using Call::Call;
    bool found = false;
    std::uint32_t index = PA_INVALID_INDEX;
    std::string name;
    pa_cvolume volume{};
    bool muted = false;
};

void readSink(pa_context* context, const pa_sink_info* info, int eol, void* userdata) {
    auto* reply = static_cast<SinkReply*>(userdata);
    if (eol < 0) {
        // An unknown sink ends the query with an error; it is simply not found.
        reply->finish(pa_context_errno(context) == PA_ERR_NOENTITY ? 0 : pa_context_errno(context));
        return;
    }
    if (eol > 0 || !info) {
        reply->finish();
        return;
    }
    reply->found = true;
    reply->index = info->index;
    reply->name = info->name ? info->name : "";
    reply->volume = info->volume;
    reply->muted = info->mute != 0;
}

struct ServerReply : PulseConnection::Call {
    using Call::Call;
    std::string defaultSink;
};

void readServer(pa_context* /*context*/, const pa_server_info* info, void* userdata) {
    auto* reply = static_cast<ServerReply*>(userdata);
    if (info && info->default_sink_name)
        reply->defaultSink = info->default_sink_name;
    reply->finish();
}

struct InputsReply : PulseConnection::Call {
    using Call::Call;
    std::uint32_t sink = PA_INVALID_INDEX;
    bool otherPlays = false;
};

void readInput(pa_context* context, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* reply = static_cast<InputsReply*>(userdata);
    if (reply->finishesAt(context, eol, info))
        return;
    if (info->sink != reply->sink || info->corked)
        return;
    const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
    bool ours = pid && std::strtol(pid, nullptr, 10) == static_cast<long>(getpid());
    if (!ours)
        reply->otherPlays = true;
}

struct DoneReply : PulseConnection::Call {
    using Call::Call;
};

void finishSuccess(pa_context* context, int success, void* userdata) {
    static_cast<DoneReply*>(userdata)->finish(success ? 0 : pa_context_errno(context));
}

} // namespace

OutputVolumePulse::OutputVolumePulse(std::shared_ptr<PulseConnection> connection)
    : m_connection(std::move(connection)) {}

namespace {

// The sink with this index, or nothing when it is gone or the server does not answer.
std::optional<SinkReply> sinkByIndex(PulseConnection& connection, std::uint32_t index) {
    SinkReply reply(connection);
    int status = connection.perform(reply, [&](pa_context* context) {
        return pa_context_get_sink_info_by_index(context, index, readSink, &reply);
    });
    if (status != 0 || !reply.found)
        return std::nullopt;
    return reply;
}

std::optional<SinkReply> sinkByName(PulseConnection& connection, const std::string& name) {
    SinkReply reply(connection);
    int status = connection.perform(reply, [&](pa_context* context) {
        return pa_context_get_sink_info_by_name(context, name.c_str(), readSink, &reply);
    });
    if (status != 0 || !reply.found)
        return std::nullopt;
    return reply;
}

} // namespace

std::optional<OutputVolume::DeviceId> OutputVolumePulse::defaultDevice() {
    ServerReply server(*m_connection);
    if (m_connection->perform(server,
                              [&](pa_context* context) {
                                  return pa_context_get_server_info(context, readServer, &server);
                              }) != 0 ||
        server.defaultSink.empty())
        return std::nullopt;
    auto sink = sinkByName(*m_connection, server.defaultSink);
    if (!sink)
        return std::nullopt;
    return sink->index;
}

std::optional<std::string> OutputVolumePulse::uid(DeviceId device) {
    auto sink = sinkByIndex(*m_connection, device);
    if (!sink || sink->name.empty())
        return std::nullopt;
    return sink->name;
}

std::optional<float> OutputVolumePulse::volume(DeviceId device) {
    auto sink = sinkByIndex(*m_connection, device);
    if (!sink || !pa_cvolume_valid(&sink->volume))
        return std::nullopt;
    return static_cast<float>(static_cast<double>(pa_cvolume_max(&sink->volume)) /
                              static_cast<double>(PA_VOLUME_NORM));
}

std::optional<bool> OutputVolumePulse::isOutputMuted(DeviceId device) {
    auto sink = sinkByIndex(*m_connection, device);
    if (!sink)
        return std::nullopt;
    return sink->muted;
}

Result<void, CoreAudioError> OutputVolumePulse::setVolume(float volume, DeviceId device) {
    const std::string what = "AudioObjectSetPropertyData(" + CA::fourCC(CA::code("vmvc")) + ")";
    auto sink = sinkByIndex(*m_connection, device);
    if (!sink || !pa_cvolume_valid(&sink->volume))
        return fail(PulseConnection::audioError(what, PA_ERR_NOENTITY));
    double raw = std::round(std::max(0.0, static_cast<double>(volume)) * PA_VOLUME_NORM);
    pa_cvolume scaled = sink->volume;
    pa_cvolume_scale(&scaled, static_cast<pa_volume_t>(std::min(raw, double{PA_VOLUME_MAX})));
    DoneReply done(*m_connection);
    int status = m_connection->perform(done, [&](pa_context* context) {
        return pa_context_set_sink_volume_by_index(context, device, &scaled, finishSuccess, &done);
    });
    if (status != 0)
        return fail(PulseConnection::audioError(what, status));
    return {};
}

std::optional<OutputVolume::DeviceId> OutputVolumePulse::device(const std::string& uid) {
    auto sink = sinkByName(*m_connection, uid);
    if (!sink)
        return std::nullopt;
    return sink->index;
}

bool OutputVolumePulse::isReachable() {
    return m_connection->waitReady(PulseConnection::deadlineIn(PulseConnection::waitLimit));
}

bool OutputVolumePulse::otherProcessPlays() {
    auto sink = defaultDevice();
    if (!sink)
        return false;
    InputsReply reply(*m_connection);
    reply.sink = *sink;
    if (m_connection->perform(reply, [&](pa_context* context) {
            return pa_context_get_sink_input_info_list(context, readInput, &reply);
        }) != 0)
        return false;
    return reply.otherPlays;
}

} // namespace talverin
