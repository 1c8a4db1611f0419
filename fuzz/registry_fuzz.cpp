// The registry lookup against a model: lookups in the three slots with texts and keys read off
// the input, answered from a std::map parsed from each slot's last text ("key=value" pairs
// joined by ";", a later pair replacing an earlier one). A present key gives its value's
// bytes, and the same record while the slot keeps its text; an absent key, a bad slot or an
// empty text gives a fresh empty string each time.
#include <map>

#include "fuzz_support.h"

// The registry keeps every value it has handed out for the life of the process (a caller may
// still hold one after its slot is rebuilt), so those blocks are never released by design.
extern "C" const char* __asan_default_options() { return "detect_leaks=0"; }

namespace {

using Pairs = std::map<std::string, std::string>;

// Pairs from the start of text: the key runs to the next "=" (a ";" before it included), the
// value to the next ";" or the end; text after the last pair without "=" is ignored.
Pairs parse(std::string_view text) {
    Pairs out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eq = text.find('=', pos);
        if (eq == std::string_view::npos) break;
        size_t semi = text.find(';', eq + 1);
        size_t end = semi == std::string_view::npos ? text.size() : semi;
        out[std::string(text.substr(pos, eq - pos))] =
            std::string(text.substr(eq + 1, end - eq - 1));
        if (semi == std::string_view::npos) break;
        pos = semi + 1;
    }
    return out;
}

struct Slot {
    std::string text;
    Pairs pairs;
    std::map<std::string, QorString*> handed_out;  // values returned while text is kept
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Slot slots[3];
    qor_arena_mode(1);
    fuzz::Input in{data, size};
    // A few texts to choose from, so that slots are both reused and rebuilt.
    std::string texts[3] = {in.bytes(24), in.bytes(24), in.bytes(24)};
    for (int steps = 0; in.n > 0 && steps < 32; steps++) {
        uint8_t op = in.take<uint8_t>();
        int64_t slot = static_cast<int64_t>(op % 5) - 1;  // -1 to 3
        const std::string& text = texts[(op >> 3) % 3];
        std::string key = in.bytes(6);
        QorString* got = reg_cached_lookup(fuzz::make(text), fuzz::make(key), slot);
        if (slot < 0 || slot > 2 || text.empty()) {
            fuzz::check_text(got, "", "bad request");
            continue;
        }
        Slot& model = slots[slot];
        if (model.text != text) model = Slot{text, parse(text), {}};
        auto found = model.pairs.find(key);
        if (found == model.pairs.end()) {
            fuzz::check_text(got, "", "absent key");
            fuzz::check(reg_cached_lookup(fuzz::make(text), fuzz::make(key), slot) != got,
                        "absent key gives a fresh empty string");
            continue;
        }
        fuzz::check_text(got, found->second, "value");
        auto [kept, fresh] = model.handed_out.emplace(key, got);
        fuzz::check(fresh || kept->second == got, "same value record while the slot is kept");
    }
    qor_arena_reset();
    return 0;
}
