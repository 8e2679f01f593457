#pragma once

#include "Runtime/Result.h"
#include "TalverinCore/EnumTable.h"
#include "TalverinCore/Settings.h"
#include "TalverinCore/WireCoding.h"
#include "TalverinCore/WireHistoryListArgs.h"
#include "TalverinCore/WirePermissions.h"

#include <array>
#include <string>
#include <string_view>

namespace talverin::Wire {

// Which text of a history item a page command acts on.
enum class CopyWhich {
    clean, // the polished text
    raw,   // the raw transcript
};

} // namespace talverin::Wire

namespace talverin {

template <> struct EnumTable<Wire::CopyWhich> {
    static constexpr auto entries = std::to_array<EnumEntry<Wire::CopyWhich>>({
        {Wire::CopyWhich::clean, "clean"},
        {Wire::CopyWhich::raw, "raw"},
    });
};

} // namespace talverin

namespace talverin::Wire {

// How a page message fails to become a command. The page is answered with description().
class CommandError {
public:
    enum class Kind {
        unknownCommand, // "cmd" is a string but names no command
        badArguments,   // a known command whose required argument is missing or mistyped
        badMessage,     // not JSON, not an object, or no string "cmd"
    };

    static CommandError unknownCommand(std::string name) { return {Kind::unknownCommand, name}; }
    static CommandError badArguments(std::string name) { return {Kind::badArguments, name}; }
    static CommandError badMessage() { return {Kind::badMessage, {}}; }

    Kind kind() const { return m_kind; }
    // The "cmd" string exactly as received; empty for badMessage.
    const std::string& name() const { return m_name; }
    // "unknown command <name>", "bad arguments for <name>" or "bad message".
    std::string description() const;

    bool operator==(const CommandError&) const = default;

private:
    CommandError(Kind kind, std::string name) : m_kind(kind), m_name(std::move(name)) {}

    Kind m_kind;
    std::string m_name;
};

// One message a page sends: {"cmd": name, "args": {...}}. A command is built by the factory
// named after it; each payload accessor belongs to the commands named beside it and gives the
// default value for any other.
class Command {
public:
    // The sixteen commands, in the order of names().
    enum class Kind {
        getState,
        setSettings,
        historyList,
        historyCopy,
        historyDelete,
        historyClear,
        historyInsertAgain,
        historyAddWord,
        permissionsStatus,
        permissionsRequest,
        permissionsOpenPane,
        finishOnboarding,
        micTest,
        keyCapture,
        fnAction,
        openKeyboardSettings,
    };

    static Command getState() { return Command(Kind::getState); }
    static Command setSettings(Settings::Patch patch);
    static Command historyList(HistoryListArgs args);
    static Command historyCopy(std::string id, CopyWhich which = CopyWhich::clean);
    static Command historyDelete(std::string id);
    static Command historyClear() { return Command(Kind::historyClear); }
    static Command historyInsertAgain(std::string id, CopyWhich which = CopyWhich::clean);
    static Command historyAddWord(std::string word);
    static Command permissionsStatus() { return Command(Kind::permissionsStatus); }
    static Command permissionsRequest(PermissionKind kind);
    static Command permissionsOpenPane(PermissionKind kind);
    static Command finishOnboarding() { return Command(Kind::finishOnboarding); }
    static Command micTest(bool on);
    static Command keyCapture(bool on);
    static Command fnAction() { return Command(Kind::fnAction); }
    static Command openKeyboardSettings() { return Command(Kind::openKeyboardSettings); }

    // Every command name, "getState" first and "openKeyboardSettings" last.
    static const std::array<std::string_view, 16>& names();

    // Reads one message as the page host receives it, as JSON text. Text that is not JSON,
    // nests deeper than maxDepth, is not an object or has no string "cmd" fails with
    // badMessage, the reason kept in the result's message for the log.
    static Result<Command, CommandError> parse(std::string_view message);

    Kind kind() const { return m_kind; }
    std::string_view name() const;

    const Settings::Patch& patch() const { return m_patch; }       // setSettings
    const HistoryListArgs& listArgs() const { return m_listArgs; } // historyList
    // historyCopy, historyDelete, historyInsertAgain.
    const std::string& id() const { return m_id; }
    CopyWhich which() const { return m_which; }                // historyCopy, historyInsertAgain
    const std::string& word() const { return m_word; }         // historyAddWord
    PermissionKind permission() const { return m_permission; } // the two permission commands
    bool on() const { return m_on; }                           // micTest, keyCapture

    // The same command with equal payloads.
    friend bool operator==(const Command& a, const Command& b);

private:
    explicit Command(Kind kind) : m_kind(kind) {}

    Kind m_kind;
    Settings::Patch m_patch;
    HistoryListArgs m_listArgs;
    std::string m_id;
    CopyWhich m_which = CopyWhich::clean;
    std::string m_word;
    PermissionKind m_permission = PermissionKind::microphone;
    bool m_on = false;
};

// Writes {"args": {...}, "cmd": name}, with no "args" for the six commands that take none.
// Reading follows parse(), but as a decoding: a bad name or bad arguments fail with
// dataCorrupted and the CommandError's description.
template <> struct Coding<Command> {
    static nlohmann::json encode(const Command& value);
    static Command decode(const nlohmann::json& json);
};

} // namespace talverin::Wire

namespace talverin {

template <> struct EnumTable<Wire::Command::Kind> {
    using Kind = Wire::Command::Kind;
    static constexpr auto entries = std::to_array<EnumEntry<Kind>>({
        {Kind::getState, "getState"},
        {Kind::setSettings, "setSettings"},
        {Kind::historyList, "historyList"},
        {Kind::historyCopy, "historyCopy"},
        {Kind::historyDelete, "historyDelete"},
        {Kind::historyClear, "historyClear"},
        {Kind::historyInsertAgain, "historyInsertAgain"},
        {Kind::historyAddWord, "historyAddWord"},
        {Kind::permissionsStatus, "permissionsStatus"},
        {Kind::permissionsRequest, "permissionsRequest"},
        {Kind::permissionsOpenPane, "permissionsOpenPane"},
        {Kind::finishOnboarding, "finishOnboarding"},
        {Kind::micTest, "micTest"},
        {Kind::keyCapture, "keyCapture"},
        {Kind::fnAction, "fnAction"},
        {Kind::openKeyboardSettings, "openKeyboardSettings"},
    });
};

} // namespace talverin
