#pragma once

#include "TalverinCore/Calendar.h"
#include "TalverinCore/HistoryItem.h"
#include "TalverinCore/WireDate.h"

#include "Runtime/Uuid.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace talverin {

class Bundle;

// The application's check of itself, run from the built program against its bundle: are the
// files there, is the bundle's information right, do the drawing, font, history and text-rule
// pieces work. It prints three lines and answers the exit code; no check stops the others.
namespace SelfTest {

// What the check needs from the program it runs in.
struct Probes {
    // The identifier this program was built with; the bundle must carry the same one.
    std::string ownIdentifier;
    // Whether the bundle configures a cloud backend (read with consent refused).
    std::function<bool(const Bundle&)> backendConfigured;
    // The status-item icon as PNG data at scale 4; none when it cannot be drawn.
    std::function<std::optional<std::string>()> menuIconPNG;
    // The history round trip; `checkHistory` unless a test puts another in.
    std::function<bool()> history;
};

// Runs every check on `bundle`, writing the three lines to `out`; 0 when all hold, else 1.
std::int32_t run(const Bundle& bundle, const Probes& probes, std::ostream& out);

// The files a bundle must hold, as paths inside its resource folder, in order.
std::vector<std::string> requiredFiles(const std::filesystem::path& root,
                                       const std::string& ownIdentifier);
// The bundle's own files that a page loads: every src or href written as "./path", as
// "web/path" without its query or fragment. Empty when the page cannot be read.
std::vector<std::string> webAssets(const std::filesystem::path& html);

// A history written by one store and read back by a second must hold the one item appended,
// which makes three words today. The store's flush must have waited for its write.
template <class Store> bool checkHistoryIn(const std::filesystem::path& folder) {
    const auto file = folder / "history.json";
    const auto now = Wire::Date(std::chrono::system_clock::now());
    bool holds = false;
    {
        Store store(file);
        HistoryItem item;
        item.id = newUuid();
        item.date = now;
        item.clean = "One two three";
        item.raw = "one two three";
        item.inserted = true;
        store.append(item);
        store.flush();
        Store reader(file);
        holds = reader.items().size() == 1 && reader.wordsToday(now, Calendar::current()) == 3;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return holds;
}
// checkHistoryIn with the real store, in a fresh folder under the temporary folder.
bool checkHistory();

} // namespace SelfTest

} // namespace talverin
