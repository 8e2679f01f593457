#include "TalverinInsert/linux/AtspiElementReads.h"

#include "Runtime/Unicode.h"

#include <algorithm>

#include <atspi/atspi-constants.h>

namespace talverin {

namespace {

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* textInterface = "org.a11y.atspi.Text";
constexpr const char* editableInterface = "org.a11y.atspi.EditableText";
constexpr const char* componentInterface = "org.a11y.atspi.Component";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
// Text is read in pieces of this many code points, so that a long field costs no huge reply.
constexpr int textChunk = 4096;
// Parents are followed this far up at most: a tree with a loop must not hang a reading.
constexpr int ancestorLimit = 100;

using Value = AXReply<AXAttributeValue>;

// What identifies one question: whom it asks, what, and with which arguments.
std::string questionKey(const AtspiObject& object, const char* interface, const char* method,
                        GVariant* parameters) {
    std::string key = object.bus + "\n" + object.path + "\n" + interface + "." + method;
    if (parameters) {
        GCharPtr printed(g_variant_print(parameters, TRUE));
        key += "\n" + std::string(printed.get());
    }
    return key;
}

Value unsupported() {
    return {AXError::attributeUnsupported, {}};
}

Value failed(const AtspiReader& reader) {
    const int error = atspiErrorOf(reader);
    return {error == AXError::success ? AXError::failure : error, {}};
}

// A property's number; nothing when the application answered with something else.
std::optional<std::int32_t> int32Of(const AtspiBus::Reply& reply) {
    if (!reply.ok() || !g_variant_is_of_type(reply.value.get(), G_VARIANT_TYPE_INT32))
        return std::nullopt;
    return g_variant_get_int32(reply.value.get());
}

// The role names the context reader knows, from the AT-SPI role and the states that tell a
// single-line field from a multi-line one.
std::pair<std::string, std::optional<std::string>> mappedRole(AtspiReader& reader,
                                                              const AtspiObject& object,
                                                              std::uint32_t role) {
    switch (role) {
    case ATSPI_ROLE_PASSWORD_TEXT:
        return {"AXTextField", "AXSecureTextField"};
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_DOCUMENT_TEXT:
        if (reader.hasState(object, ATSPI_STATE_MULTI_LINE))
            return {"AXTextArea", std::nullopt};
        return {"AXTextField", std::nullopt};
    case ATSPI_ROLE_SPIN_BUTTON:
        return {"AXIncrementor", std::nullopt};
    case ATSPI_ROLE_TERMINAL:
        return {"AXTerminal", std::nullopt};
    case ATSPI_ROLE_COMBO_BOX:
        return {"AXComboBox", std::nullopt};
    case ATSPI_ROLE_PUSH_BUTTON:
        return {"AXButton", std::nullopt};
    case ATSPI_ROLE_CHECK_BOX:
        return {"AXCheckBox", std::nullopt};
    case ATSPI_ROLE_RADIO_BUTTON:
        return {"AXRadioButton", std::nullopt};
    case ATSPI_ROLE_SLIDER:
        return {"AXSlider", std::nullopt};
    case ATSPI_ROLE_SCROLL_BAR:
        return {"AXScrollBar", std::nullopt};
    case ATSPI_ROLE_PROGRESS_BAR:
        return {"AXProgressIndicator", std::nullopt};
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
        return {"AXWindow", std::nullopt};
    case ATSPI_ROLE_APPLICATION:
        return {"AXApplication", std::nullopt};
    case ATSPI_ROLE_DOCUMENT_WEB:
        return {"AXWebArea", std::nullopt};
    case ATSPI_ROLE_PANEL:
    case ATSPI_ROLE_FILLER:
    case ATSPI_ROLE_SECTION:
        return {"AXGroup", std::nullopt};
    case ATSPI_ROLE_SCROLL_PANE:
        return {"AXScrollArea", std::nullopt};
    default:
        return {"AXUnknown", std::nullopt};
    }
}

std::u32string toUtf32(const std::string& utf8) {
    std::u32string result;
    const std::u16string units = Unicode::toUtf16(utf8);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xd800 && u <= 0xdbff && i + 1 < units.size()) {
            result.push_back(0x10000 + ((u - 0xd800) << 10) + (units[i + 1] - 0xdc00));
            ++i;
        } else {
            result.push_back(u);
        }
    }
    return result;
}

std::string toUtf8(const std::u32string& text) {
    std::u16string units;
    for (const char32_t c : text) {
        if (c > 0xffff) {
            units.push_back(static_cast<char16_t>(0xd800 + ((c - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xdc00 + ((c - 0x10000) & 0x3ff)));
        } else {
            units.push_back(static_cast<char16_t>(c));
        }
    }
    return Unicode::toUtf8(units);
}

// The whole text of a text element as code points, read in pieces; nothing when the element
// has no text or did not answer (the reader says which).
std::optional<std::u32string> wholeText(AtspiReader& reader, const AtspiObject& object) {
    const auto length = int32Of(reader.property(object, textInterface, "CharacterCount"));
    if (!length)
        return std::nullopt;
    std::string text;
    for (std::int32_t start = 0; start < *length; start += textChunk) {
        const auto piece =
            reader.call(object, textInterface, "GetText",
                        g_variant_new("(ii)", start, std::min(*length, start + textChunk)), "(s)");
        if (!piece.ok())
            return std::nullopt;
        const gchar* chars = nullptr;
        g_variant_get(piece.value.get(), "(&s)", &chars);
        text += chars;
    }
    return toUtf32(text);
}

// UTF-16 units of the first `codePoints` code points of `text`.
std::int64_t unitsBefore(const std::u32string& text, std::int64_t codePoints) {
    std::int64_t units = 0;
    for (std::int64_t i = 0; i < codePoints && i < static_cast<std::int64_t>(text.size()); ++i)
        units += text[i] > 0xffff ? 2 : 1;
    return units;
}

// The code point at which `units` UTF-16 units of `text` end (rounded up past a pair).
std::int64_t codePointsBefore(const std::u32string& text, std::int64_t units) {
    std::int64_t seen = 0;
    std::int64_t i = 0;
    for (; i < static_cast<std::int64_t>(text.size()) && seen < units; ++i)
        seen += text[i] > 0xffff ? 2 : 1;
    return i;
}

// Reads one text attribute, converting code points to UTF-16 units.
Value textAttribute(AtspiReader& reader, const AtspiObject& object, const std::string& name) {
    const auto points = wholeText(reader, object);
    if (!points) {
        if (reader.failure() == AtspiBus::Failure::unsupported)
            return name == "AXValue" ? Value{AXError::noValue, {}} : unsupported();
        return failed(reader);
    }
    if (name == "AXValue")
        return {AXError::success, toUtf8(*points)};
    if (name == "AXNumberOfCharacters")
        return {AXError::success, unitsBefore(*points, static_cast<std::int64_t>(points->size()))};
    const auto selections = reader.call(object, textInterface, "GetNSelections", nullptr, "(i)");
    if (reader.stalled())
        return failed(reader);
    std::int32_t count = 0;
    if (selections.ok())
        g_variant_get(selections.value.get(), "(i)", &count);
    if (count > 0) {
        const auto range =
            reader.call(object, textInterface, "GetSelection", g_variant_new("(i)", 0), "(ii)");
        if (reader.stalled())
            return failed(reader);
        std::int32_t start = 0;
        std::int32_t end = 0;
        if (range.ok())
            g_variant_get(range.value.get(), "(ii)", &start, &end);
        end = std::min<std::int32_t>(end, static_cast<std::int32_t>(points->size()));
        if (end > start && start >= 0) {
            if (name == "AXSelectedText")
                return {AXError::success, toUtf8(points->substr(start, end - start))};
            const auto from = unitsBefore(*points, start);
            return {AXError::success, AXRange{from, unitsBefore(*points, end) - from}};
        }
    }
    if (name == "AXSelectedText")
        return {AXError::success, std::string()};
    const auto caret = int32Of(reader.property(object, textInterface, "CaretOffset"));
    if (!caret)
        return reader.stalled() ? failed(reader) : Value{AXError::noValue, {}};
    if (*caret < 0)
        return {AXError::noValue, {}};
    return {AXError::success, AXRange{unitsBefore(*points, *caret), 0}};
}

Value extents(AtspiReader& reader, const AtspiObject& object, const std::string& name) {
    const auto reply = reader.call(object, componentInterface, "GetExtents",
                                   g_variant_new("(u)", ATSPI_COORD_TYPE_SCREEN), "((iiii))");
    if (!reply.ok())
        return reader.failure() == AtspiBus::Failure::unsupported ? unsupported() : failed(reader);
    std::int32_t x = 0, y = 0, width = 0, height = 0;
    g_variant_get(reply.value.get(), "((iiii))", &x, &y, &width, &height);
    if (name == "AXPosition")
        return {AXError::success, Point{static_cast<double>(x), static_cast<double>(y)}};
    return {AXError::success, Size{static_cast<double>(width), static_cast<double>(height)}};
}

bool hasInterface(AtspiReader& reader, const AtspiObject& object, const char* interface) {
    const auto reply = reader.call(object, accessibleInterface, "GetInterfaces", nullptr, "(as)");
    if (!reply.ok())
        return false;
    GVariantPtr list(g_variant_get_child_value(reply.value.get(), 0));
    const gsize count = g_variant_n_children(list.get());
    for (gsize i = 0; i < count; ++i) {
        GVariantPtr item(g_variant_get_child_value(list.get(), i));
        if (std::string_view(g_variant_get_string(item.get(), nullptr)) == interface)
            return true;
    }
    return false;
}

int answerOf(const AtspiReader& reader, const AtspiBus::Reply& reply) {
    if (!reply.ok())
        return atspiErrorOf(reader) == AXError::success ? AXError::failure : atspiErrorOf(reader);
    gboolean done = FALSE;
    g_variant_get(reply.value.get(), "(b)", &done);
    return done ? AXError::success : AXError::failure;
}

} // namespace

AtspiBus::Reply AtspiReader::note(AtspiBus::Reply reply) {
    if (reply.failure != AtspiBus::Failure::none && m_failure != AtspiBus::Failure::noAnswer)
        m_failure = reply.failure;
    return reply;
}

AtspiBus::Reply AtspiReader::call(const AtspiObject& object, const char* interface,
                                  const char* method, GVariant* parameters,
                                  const char* replyType) {
    GVariantPtr owned(parameters ? g_variant_ref_sink(parameters) : nullptr);
    if (stalled())
        return {AtspiBus::Failure::noAnswer, nullptr};
    const std::string key = questionKey(object, interface, method, owned.get());
    if (const auto found = m_answers.find(key); found != m_answers.end())
        return {found->second.failure,
                GVariantPtr(found->second.value ? g_variant_ref(found->second.value.get())
                                                : nullptr)};
    auto reply =
        note(m_bus.call(object, interface, method, owned.get(), replyType, m_timeoutMs));
    remember(key, reply);
    return reply;
}

AtspiBus::Reply AtspiReader::property(const AtspiObject& object, const char* interface,
                                      const char* name) {
    auto reply = call(object, propertiesInterface, "Get", g_variant_new("(ss)", interface, name),
                      "(v)");
    if (!reply.ok())
        return reply;
    GVariant* inner = nullptr;
    g_variant_get(reply.value.get(), "(v)", &inner);
    return {AtspiBus::Failure::none, GVariantPtr(inner)};
}

void AtspiReader::remember(const std::string& key, const AtspiBus::Reply& reply) {
    // A silence is not an answer: the series stops on it anyway.
    if (reply.failure == AtspiBus::Failure::noAnswer)
        return;
    m_answers[key] = {reply.failure,
                      GVariantPtr(reply.value ? g_variant_ref(reply.value.get()) : nullptr)};
}

void AtspiReader::prefetch(std::vector<AtspiBus::Request> requests) {
    if (stalled())
        return;
    std::vector<std::string> keys;
    std::vector<AtspiBus::Request> asked;
    for (auto& request : requests) {
        GVariant* parameters =
            request.parameters ? g_variant_ref_sink(request.parameters) : nullptr;
        std::string key = questionKey(request.object, request.interface, request.method,
                                      parameters);
        if (m_answers.contains(key)) {
            if (parameters)
                g_variant_unref(parameters);
            continue;
        }
        request.parameters = parameters;
        keys.push_back(std::move(key));
        asked.push_back(request);
    }
    if (asked.empty())
        return;
    std::vector<GVariantPtr> owned;
    for (const auto& request : asked)
        owned.emplace_back(request.parameters);
    auto replies = m_bus.callAll(asked, m_timeoutMs);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        // Only a silence counts against the series: a question the element has no answer to
        // is asked again, and answered the same, by the reading that needs it.
        if (replies[i].failure == AtspiBus::Failure::noAnswer)
            note(std::move(replies[i]));
        else
            remember(keys[i], replies[i]);
    }
}

void AtspiReader::prefetchElement(const AtspiObject& object) {
    using Request = AtspiBus::Request;
    const auto get = [&](const char* interface, const char* name) {
        return Request{object, propertiesInterface, "Get", g_variant_new("(ss)", interface, name),
                       "(v)"};
    };
    prefetch({
        Request{object, accessibleInterface, "GetRole", nullptr, "(u)"},
        Request{object, accessibleInterface, "GetState", nullptr, "(au)"},
        get(accessibleInterface, "Parent"),
        get(textInterface, "CharacterCount"),
        get(textInterface, "CaretOffset"),
        Request{object, textInterface, "GetNSelections", nullptr, "(i)"},
        Request{object, textInterface, "GetSelection", g_variant_new("(i)", 0), "(ii)"},
        Request{object, componentInterface, "GetExtents",
                g_variant_new("(u)", ATSPI_COORD_TYPE_SCREEN), "((iiii))"},
    });
}

std::optional<std::uint64_t> AtspiReader::states(const AtspiObject& object) {
    const auto reply = call(object, accessibleInterface, "GetState", nullptr, "(au)");
    if (!reply.ok())
        return std::nullopt;
    GVariantPtr words(g_variant_get_child_value(reply.value.get(), 0));
    gsize count = 0;
    const auto* bits = static_cast<const guint32*>(
        g_variant_get_fixed_array(words.get(), &count, sizeof(guint32)));
    std::uint64_t set = 0;
    for (gsize i = 0; i < count && i < 2; ++i)
        set |= static_cast<std::uint64_t>(bits[i]) << (32 * i);
    return set;
}

bool AtspiReader::hasState(const AtspiObject& object, int state) {
    const auto set = states(object);
    return set && ((*set >> state) & 1);
}

std::optional<std::uint32_t> AtspiReader::role(const AtspiObject& object) {
    const auto reply = call(object, accessibleInterface, "GetRole", nullptr, "(u)");
    if (!reply.ok())
        return std::nullopt;
    guint32 role = 0;
    g_variant_get(reply.value.get(), "(u)", &role);
    return role;
}

AtspiObject AtspiReader::parent(const AtspiObject& object) {
    const auto reply = property(object, accessibleInterface, "Parent");
    if (!reply.ok() || !g_variant_is_of_type(reply.value.get(), G_VARIANT_TYPE("(so)")))
        return {};
    AtspiObject found = atspiObjectOf(reply.value.get());
    // Whoever climbs the tree asks each ancestor its role and states, and its own parent next:
    // one batch per step.
    if (!found.empty() && found.path != AtspiBus::rootPath)
        prefetch({
            AtspiBus::Request{found, accessibleInterface, "GetRole", nullptr, "(u)"},
            AtspiBus::Request{found, accessibleInterface, "GetState", nullptr, "(au)"},
            AtspiBus::Request{found, propertiesInterface, "Get",
                              g_variant_new("(ss)", accessibleInterface, "Parent"), "(v)"},
        });
    return found;
}

std::vector<AtspiObject> AtspiReader::children(const AtspiObject& object) {
    std::vector<AtspiObject> found;
    const auto reply = call(object, accessibleInterface, "GetChildren", nullptr, "(a(so))");
    if (!reply.ok())
        return found;
    GVariantPtr list(g_variant_get_child_value(reply.value.get(), 0));
    const gsize count = g_variant_n_children(list.get());
    for (gsize i = 0; i < count; ++i) {
        GVariantPtr child(g_variant_get_child_value(list.get(), i));
        if (auto element = atspiObjectOf(child.get()); !element.empty())
            found.push_back(std::move(element));
    }
    return found;
}

int atspiErrorOf(const AtspiReader& reader) {
    switch (reader.failure()) {
    case AtspiBus::Failure::none:
        return AXError::success;
    case AtspiBus::Failure::noAnswer:
        return AXError::cannotComplete;
    case AtspiBus::Failure::gone:
        return AXError::invalidUIElement;
    case AtspiBus::Failure::unsupported:
        return AXError::attributeUnsupported;
    case AtspiBus::Failure::other:
        return AXError::failure;
    }
    return AXError::failure;
}

AtspiObject atspiWindowOf(AtspiReader& reader, const AtspiObject& object) {
    AtspiObject current = object;
    for (int depth = 0; !current.empty() && depth < ancestorLimit; ++depth) {
        const auto role = reader.role(current);
        if (!role)
            return {};
        if (*role == ATSPI_ROLE_FRAME || *role == ATSPI_ROLE_WINDOW || *role == ATSPI_ROLE_DIALOG)
            return current;
        current = reader.parent(current);
    }
    return {};
}

AXReply<AXAttributeValue> atspiAttribute(AtspiReader& reader, const AtspiObject& object,
                                         const std::string& name) {
    if (name == "AXWindow") {
        const AtspiObject window = atspiWindowOf(reader, object);
        if (window.empty())
            return reader.stalled() ? failed(reader) : Value{AXError::noValue, {}};
        return {AXError::success, AXElement(std::make_shared<AtspiHandle>(window))};
    }
    if (name == "AXRole" || name == "AXSubrole") {
        const auto role = reader.role(object);
        if (!role)
            return failed(reader);
        const auto mapped = mappedRole(reader, object, *role);
        if (reader.stalled())
            return failed(reader);
        if (name == "AXRole")
            return {AXError::success, mapped.first};
        return mapped.second ? Value{AXError::success, *mapped.second}
                             : Value{AXError::noValue, {}};
    }
    if (name == "AXEditableAncestor") {
        const AtspiObject parent = reader.parent(object);
        for (AtspiObject current = parent; !current.empty();) {
            if (reader.hasState(current, ATSPI_STATE_EDITABLE))
                return {AXError::success, AXElement(std::make_shared<AtspiHandle>(parent))};
            current = reader.parent(current);
            if (reader.stalled())
                return failed(reader);
        }
        return reader.stalled() ? failed(reader) : Value{AXError::noValue, {}};
    }
    if (name == "AXPosition" || name == "AXSize")
        return extents(reader, object, name);
    if (name == "AXTitle") {
        const auto title = reader.property(object, accessibleInterface, "Name");
        if (!title.ok())
            return failed(reader);
        if (!g_variant_is_of_type(title.value.get(), G_VARIANT_TYPE_STRING))
            return {AXError::noValue, {}};
        return {AXError::success, std::string(g_variant_get_string(title.value.get(), nullptr))};
    }
    if (name == "AXValue" || name == "AXNumberOfCharacters" || name == "AXSelectedTextRange" ||
        name == "AXSelectedText")
        return textAttribute(reader, object, name);
    return unsupported();
}

AXReply<AXAttributeValue> atspiStringForRange(AtspiReader& reader, const AtspiObject& object,
                                              AXRange range) {
    const auto points = wholeText(reader, object);
    if (!points)
        return reader.failure() == AtspiBus::Failure::unsupported ? unsupported() : failed(reader);
    const auto total = unitsBefore(*points, static_cast<std::int64_t>(points->size()));
    if (range.location < 0 || range.length < 0 || range.location + range.length > total)
        return {AXError::failure, {}};
    const auto from = codePointsBefore(*points, range.location);
    const auto to = codePointsBefore(*points, range.location + range.length);
    return {AXError::success, toUtf8(points->substr(from, to - from))};
}

AXReply<bool> atspiIsSettable(AtspiReader& reader, const AtspiObject& object,
                              const std::string& name) {
    bool settable = false;
    if (name == "AXValue")
        settable = hasInterface(reader, object, editableInterface) &&
                   reader.hasState(object, ATSPI_STATE_EDITABLE);
    else if (name == "AXSelectedTextRange")
        settable = hasInterface(reader, object, textInterface);
    if (reader.stalled())
        return {AXError::cannotComplete, false};
    return {AXError::success, settable};
}

int atspiWrite(AtspiReader& reader, const AtspiObject& object, const std::string& name,
               const AXAttributeValue& value) {
    if (name == "AXValue") {
        const auto* string = std::get_if<std::string>(&value);
        if (!string || !reader.hasState(object, ATSPI_STATE_EDITABLE))
            return reader.stalled() ? AXError::cannotComplete : AXError::attributeUnsupported;
        return answerOf(reader, reader.call(object, editableInterface, "SetTextContents",
                                            g_variant_new("(s)", string->c_str()), "(b)"));
    }
    if (name == "AXSelectedTextRange") {
        const auto* range = std::get_if<AXRange>(&value);
        if (!range)
            return AXError::attributeUnsupported;
        const auto points = wholeText(reader, object);
        if (!points)
            return atspiErrorOf(reader) == AXError::success ? AXError::failure
                                                            : atspiErrorOf(reader);
        const auto from = static_cast<gint32>(codePointsBefore(*points, range->location));
        const auto to =
            static_cast<gint32>(codePointsBefore(*points, range->location + range->length));
        if (range->length == 0)
            return answerOf(reader, reader.call(object, textInterface, "SetCaretOffset",
                                                g_variant_new("(i)", from), "(b)"));
        return answerOf(reader, reader.call(object, textInterface, "SetSelection",
                                            g_variant_new("(iii)", 0, from, to), "(b)"));
    }
    return AXError::attributeUnsupported;
}

} // namespace talverin
