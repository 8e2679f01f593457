#include "TalverinInsert/linux/AtspiFocusSearch.h"

#include <atspi/atspi-constants.h>

namespace talverin::AtspiFocusSearch {

namespace {

std::uint64_t bit(int state) {
    return std::uint64_t{1} << state;
}

// The application's own search: the first element, in tree order, that holds the focused
// state. A toolkit answers this from its own tree in one message, where a walk from here costs
// one message per element (hundreds in an editor, most of them hidden menu items). `unsupported`
// in the reader's failure when the application has no such request.
std::optional<AtspiObject> collectionMatch(AtspiReader& reader, const AtspiObject& app) {
    GVariantBuilder states;
    g_variant_builder_init(&states, G_VARIANT_TYPE("ai"));
    g_variant_builder_add(&states, "i", static_cast<gint32>(bit(ATSPI_STATE_FOCUSED)));
    g_variant_builder_add(&states, "i", 0);
    GVariantBuilder attributes;
    g_variant_builder_init(&attributes, G_VARIANT_TYPE("a{ss}"));
    GVariantBuilder roles;
    g_variant_builder_init(&roles, G_VARIANT_TYPE("ai"));
    GVariantBuilder interfaces;
    g_variant_builder_init(&interfaces, G_VARIANT_TYPE("as"));
    GVariant* rule = g_variant_new("(aiia{ss}iaiiasib)", &states, ATSPI_Collection_MATCH_ALL,
                                   &attributes, ATSPI_Collection_MATCH_ALL, &roles,
                                   ATSPI_Collection_MATCH_ALL, &interfaces,
                                   ATSPI_Collection_MATCH_ALL, FALSE);
    const auto reply = reader.call(
        app, "org.a11y.atspi.Collection", "GetMatches",
        g_variant_new("(@(aiia{ss}iaiiasib)uib)", rule, ATSPI_Collection_SORT_ORDER_CANONICAL, 1,
                      TRUE),
        "(a(so))");
    if (!reply.ok())
        return std::nullopt;
    GVariantPtr list(g_variant_get_child_value(reply.value.get(), 0));
    if (g_variant_n_children(list.get()) == 0)
        return AtspiObject{};
    GVariantPtr first(g_variant_get_child_value(list.get(), 0));
    return atspiObjectOf(first.get());
}

// Depth first through the elements that are showing; a hidden element's subtree (a closed
// menu, a tab in the background) cannot hold the focus.
AtspiObject walkShowing(AtspiReader& reader, const AtspiObject& node, int& budget) {
    for (const AtspiObject& child : reader.children(node)) {
        if (--budget < 0 || reader.stalled())
            return {};
        const auto states = reader.states(child);
        if (!states)
            continue;
        if (*states & bit(ATSPI_STATE_FOCUSED))
            return child;
        if (!(*states & bit(ATSPI_STATE_SHOWING)))
            continue;
        if (AtspiObject found = walkShowing(reader, child, budget); !found.empty())
            return found;
    }
    return {};
}

} // namespace

AtspiObject focusedIn(AtspiReader& reader, const AtspiObject& app, const AtspiObject& tracked) {
    if (!tracked.empty() && tracked.bus == app.bus && reader.hasState(tracked, ATSPI_STATE_FOCUSED))
        return tracked;
    if (reader.stalled())
        return {};
    if (auto found = collectionMatch(reader, app))
        return *found;
    if (reader.failure() != AtspiBus::Failure::unsupported)
        return {};
    reader.forgetFailure();
    int budget = walkLimit;
    return walkShowing(reader, app, budget);
}

AtspiObject applicationOf(AtspiReader& reader, std::int32_t pid) {
    for (const AtspiObject& app : reader.bus().applications(reader.timeoutMs()))
        if (reader.bus().processOf(app.bus, reader.timeoutMs()) == pid)
            return app;
    return {};
}

AtspiObject activeByToolkit(AtspiReader& reader) {
    for (const AtspiObject& app : reader.bus().applications(reader.timeoutMs())) {
        AtspiReader perApp(reader.bus(), reader.timeoutMs());
        for (const AtspiObject& window : perApp.children(app))
            if (perApp.hasState(window, ATSPI_STATE_ACTIVE))
                return app;
    }
    return {};
}

} // namespace talverin::AtspiFocusSearch
