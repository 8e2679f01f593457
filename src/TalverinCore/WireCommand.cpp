#include "TalverinCore/WireCommand.h"

#include "TalverinCore/SettingsCoding.h"

#include <utility>

namespace talverin::Wire {

std::string CommandError::description() const {
    switch (m_kind) {
    case Kind::unknownCommand:
        return "unknown command " + m_name;
    case Kind::badArguments:
        return "bad arguments for " + m_name;
    case Kind::badMessage:
        break;
    }
    return "bad message";
}

Command Command::setSettings(Settings::Patch patch) {
    Command command(Kind::setSettings);
    command.m_patch = std::move(patch);
    return command;
}

Command Command::historyList(HistoryListArgs args) {
    Command command(Kind::historyList);
    command.m_listArgs = std::move(args);
    return command;
}

Command Command::historyCopy(std::string id, CopyWhich which) {
    Command command(Kind::historyCopy);
    command.m_id = std::move(id);
    command.m_which = which;
    return command;
}

Command Command::historyDelete(std::string id) {
    Command command(Kind::historyDelete);
    command.m_id = std::move(id);
    return command;
}

Command Command::historyInsertAgain(std::string id, CopyWhich which) {
    Command command(Kind::historyInsertAgain);
    command.m_id = std::move(id);
    command.m_which = which;
    return command;
}

Command Command::historyAddWord(std::string word) {
    Command command(Kind::historyAddWord);
    command.m_word = std::move(word);
    return command;
}

Command Command::permissionsRequest(PermissionKind kind) {
    Command command(Kind::permissionsRequest);
    command.m_permission = kind;
    return command;
}

Command Command::permissionsOpenPane(PermissionKind kind) {
    Command command(Kind::permissionsOpenPane);
    command.m_permission = kind;
    return command;
}

Command Command::micTest(bool on) {
    Command command(Kind::micTest);
    command.m_on = on;
    return command;
}

Command Command::keyCapture(bool on) {
    Command command(Kind::keyCapture);
    command.m_on = on;
    return command;
}

const std::array<std::string_view, 16>& Command::names() {
    static const std::array<std::string_view, 16> all = [] {
        std::array<std::string_view, 16> names{};
        const auto& entries = EnumTable<Kind>::entries;
        static_assert(entries.size() == 16);
        for (std::size_t i = 0; i < entries.size(); ++i)
            names[i] = entries[i].second;
        return names;
    }();
    return all;
}

std::string_view Command::name() const {
    return toString(m_kind);
}

bool operator==(const Command& a, const Command& b) {
    // The factories leave every payload a command does not carry at its default, so comparing
    // all of them compares exactly the payloads of the case.
    return a.m_kind == b.m_kind && a.m_patch == b.m_patch && a.m_listArgs == b.m_listArgs &&
           a.m_id == b.m_id && a.m_which == b.m_which && a.m_word == b.m_word &&
           a.m_permission == b.m_permission && a.m_on == b.m_on;
}

namespace {

// The argument under `key` of an "args" object, or nothing when "args" is missing or not an
// object, the key is missing, or its value does not read as T (null included).
template <Codable T> std::optional<T> argument(const nlohmann::json* args, std::string_view key) {
    if (args == nullptr || !args->is_object())
        return std::nullopt;
    auto found = args->find(key);
    if (found == args->end() || found->is_null())
        return std::nullopt;
    auto value = decodeValue<T>(*found);
    if (!value)
        return std::nullopt;
    return std::move(*value);
}

// Reads a message tree. A malformed envelope throws CodingFailure, as any decoding does; a
// name that is not a command, or arguments a command cannot run with, give a CommandError.
Result<Command, CommandError> readCommand(const nlohmann::json& message) {
    const ObjectReader object(message);
    const std::string name = object.required<std::string>("cmd");
    const nlohmann::json* args = object.find("args");
    const auto kind = fromString<Command::Kind>(name);
    if (!kind)
        return fail(CommandError::unknownCommand(name));
    const auto badArguments = [&] { return fail(CommandError::badArguments(name)); };

    // The six commands without arguments take nothing, so whatever "args" holds is no reason to
    // refuse them.
    switch (*kind) {
    case Command::Kind::getState:
        return Command::getState();
    case Command::Kind::historyClear:
        return Command::historyClear();
    case Command::Kind::permissionsStatus:
        return Command::permissionsStatus();
    case Command::Kind::finishOnboarding:
        return Command::finishOnboarding();
    case Command::Kind::fnAction:
        return Command::fnAction();
    case Command::Kind::openKeyboardSettings:
        return Command::openKeyboardSettings();
    case Command::Kind::setSettings: {
        if (args == nullptr)
            return badArguments();
        auto patch = decodeValue<Settings::Patch>(*args);
        if (!patch)
            return badArguments();
        return Command::setSettings(std::move(*patch));
    }
    case Command::Kind::historyList: {
        // A listing never fails on its arguments: anything unreadable lists with the defaults.
        HistoryListArgs listArgs;
        if (args != nullptr && !args->is_null())
            if (auto read = decodeValue<HistoryListArgs>(*args))
                listArgs = std::move(*read);
        return Command::historyList(std::move(listArgs));
    }
    case Command::Kind::historyCopy:
    case Command::Kind::historyInsertAgain: {
        const CopyWhich which = argument<CopyWhich>(args, "which").value_or(CopyWhich::clean);
        auto id = argument<std::string>(args, "id");
        if (!id)
            return badArguments();
        return *kind == Command::Kind::historyCopy
                   ? Command::historyCopy(std::move(*id), which)
                   : Command::historyInsertAgain(std::move(*id), which);
    }
    case Command::Kind::historyDelete: {
        auto id = argument<std::string>(args, "id");
        if (!id)
            return badArguments();
        return Command::historyDelete(std::move(*id));
    }
    case Command::Kind::historyAddWord: {
        auto word = argument<std::string>(args, "word");
        if (!word)
            return badArguments();
        return Command::historyAddWord(std::move(*word));
    }
    case Command::Kind::permissionsRequest:
    case Command::Kind::permissionsOpenPane: {
        auto permission = argument<PermissionKind>(args, "kind");
        if (!permission)
            return badArguments();
        return *kind == Command::Kind::permissionsRequest
                   ? Command::permissionsRequest(*permission)
                   : Command::permissionsOpenPane(*permission);
    }
    case Command::Kind::micTest:
    case Command::Kind::keyCapture: {
        // Only true and false: a 1 is not a switch position.
        auto on = argument<bool>(args, "on");
        if (!on)
            return badArguments();
        return *kind == Command::Kind::micTest ? Command::micTest(*on) : Command::keyCapture(*on);
    }
    }
    return fail(CommandError::unknownCommand(name));
}

} // namespace

Result<Command, CommandError> Command::parse(std::string_view message) {
    // The reader refuses text nested deeper than maxDepth before it builds a tree, so hostile
    // nesting never reaches recursive code.
    auto tree = decoder().read(message);
    if (!tree)
        return fail(CommandError::badMessage(), tree.message());
    try {
        return readCommand(*tree);
    } catch (const CodingFailure& failure) {
        return fail(CommandError::badMessage(), failure.message());
    }
}

nlohmann::json Coding<Command>::encode(const Command& value) {
    nlohmann::json object = {{"cmd", std::string(value.name())}};
    switch (value.kind()) {
    case Command::Kind::getState:
    case Command::Kind::historyClear:
    case Command::Kind::permissionsStatus:
    case Command::Kind::finishOnboarding:
    case Command::Kind::fnAction:
    case Command::Kind::openKeyboardSettings:
        break;
    case Command::Kind::setSettings:
        object["args"] = encodeValue(value.patch());
        break;
    case Command::Kind::historyList:
        object["args"] = encodeValue(value.listArgs());
        break;
    case Command::Kind::historyCopy:
    case Command::Kind::historyInsertAgain:
        object["args"] = {{"id", value.id()}, {"which", encodeValue(value.which())}};
        break;
    case Command::Kind::historyDelete:
        object["args"] = {{"id", value.id()}};
        break;
    case Command::Kind::historyAddWord:
        object["args"] = {{"word", value.word()}};
        break;
    case Command::Kind::permissionsRequest:
    case Command::Kind::permissionsOpenPane:
        object["args"] = {{"kind", encodeValue(value.permission())}};
        break;
    case Command::Kind::micTest:
    case Command::Kind::keyCapture:
        object["args"] = {{"on", value.on()}};
        break;
    }
    return object;
}

Command Coding<Command>::decode(const nlohmann::json& json) {
    auto command = readCommand(json);
    if (!command)
        failCoding(CodingError::dataCorrupted, command.error().description());
    return std::move(command).value();
}

} // namespace talverin::Wire
