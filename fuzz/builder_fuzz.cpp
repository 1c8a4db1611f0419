// The string builder against a std::string model: a sequence of appends, clears, builds and
// element tests read off the input, on one builder whose starting capacity the input picks.
// After every operation the content, len, the closing NUL and cap must be what the model
// gives, cap growing by doubling at exactly the points the room rule of each append sets.
// Some appends take the builder's own record as their source.
#include <algorithm>
#include <charconv>

#include "fuzz_support.h"

namespace {

struct Model {
    std::string content;
    int64_t cap;

    // Doubles cap while len + k >= cap: the room every append makes before k bytes.
    void room(int64_t k) {
        while (static_cast<int64_t>(content.size()) + k >= cap) cap *= 2;
    }
    void append(std::string_view bytes) {
        room(static_cast<int64_t>(bytes.size()));
        content += bytes;
    }
};

// Two bytes of room before each input byte; tab, line feed, carriage return, quote and
// backslash become a backslash and a letter.
void escape_prefixed(Model& m, std::string_view bytes) {
    for (char c : bytes) {
        m.room(2);
        const char* letters = "\t\n\r\"\\";
        const char* at = c == '\0' ? nullptr : strchr(letters, c);
        if (at == nullptr) {
            m.content += c;
        } else {
            m.content += '\\';
            m.content += "tnr\"\\"[at - letters];
        }
    }
}

// One byte of room before each output byte; only quote and backslash get a backslash.
void escape_plain(Model& m, std::string_view bytes) {
    for (char c : bytes) {
        if (c == '"' || c == '\\') {
            m.room(1);
            m.content += '\\';
        }
        m.room(1);
        m.content += c;
    }
}

// item is an element of the comma-separated content: it starts at 0 or after a comma and
// ends at the end or before a comma.
bool has_element(std::string_view content, std::string_view item) {
    if (item.empty() || content.empty()) return false;
    for (size_t start = 0; start + item.size() <= content.size(); start++) {
        if (start > 0 && content[start - 1] != ',') continue;
        size_t end = start + item.size();
        if (content.substr(start, item.size()) == item &&
            (end == content.size() || content[end] == ','))
            return true;
    }
    return false;
}

void check_builder(const QorStringBuilder* sb, const Model& m, int64_t result) {
    fuzz::check(sb->len == static_cast<int64_t>(m.content.size()) && result == sb->len,
                "builder len");
    fuzz::check(sb->cap == m.cap && sb->data[sb->len] == '\0', "builder cap");
    fuzz::check(memcmp(sb->data, m.content.data(), m.content.size()) == 0, "builder content");
}

std::string decimal(int64_t v) {
    char buffer[24];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qor_arena_mode(1);
    fuzz::Input in{data, size};
    int64_t start = in.take<uint8_t>() % 70;
    QorStringBuilder* sb = qor_sb_with_capacity(start);
    Model m{std::string(), start > 0 ? start : 64};
    // The builder's record reads as a string record holding its content.
    auto* self = reinterpret_cast<QorString*>(sb);
    for (int steps = 0; in.n > 0 && steps < 64; steps++) {
        if (m.content.size() > 8192) {  // appending the builder to itself doubles it
            qor_sb_clear(sb);
            m.content.clear();
        }
        uint8_t op = in.take<uint8_t>();
        std::string bytes = in.bytes(40);
        QorString* s = fuzz::make(bytes);
        int64_t result = sb->len;
        switch (op % 12) {
            case 0:
                result = qor_sb_push(sb, s);
                m.append(bytes);
                break;
            case 1: {
                auto from = static_cast<int64_t>(in.take<int8_t>());
                auto to = static_cast<int64_t>(in.take<int8_t>());
                std::string own = m.content;
                result = qor_sb_push_range(sb, op & 16 ? self : s, from, to);
                std::string_view source = op & 16 ? own : bytes;
                if (from >= to) {
                    fuzz::check(result == 0, "push_range refused");
                    result = sb->len;
                    break;
                }
                int64_t lo = from > 0 ? from : 0;
                int64_t hi = std::min(to, static_cast<int64_t>(source.size()));
                if (lo < hi) {
                    m.append(source.substr(static_cast<size_t>(lo), static_cast<size_t>(hi - lo)));
                }
                break;
            }
            case 2:
                result = qor_sb_push_char(sb, op >> 4);
                m.append(std::string(1, static_cast<char>(op >> 4)));
                break;
            case 3: {
                auto v = in.take<int64_t>();
                result = qor_sb_push_int(sb, v);
                m.append(decimal(v));
                break;
            }
            case 4: {
                std::string own = m.content;
                result = qor_sb_push(sb, self);
                m.append(own);
                break;
            }
            case 5:
                result = qor_sb_push_escaped(sb, s);
                escape_prefixed(m, bytes);
                break;
            case 6:
                result = sb_push_escaped(sb, s);
                escape_plain(m, bytes);
                break;
            case 7: {
                std::string own = m.content;
                result = op & 16 ? qor_sb_push_escaped(sb, self) : sb_push_escaped(sb, self);
                if (own.empty()) break;
                (op & 16 ? escape_prefixed : escape_plain)(m, own);
                break;
            }
            case 8:
                result = sb_push_cstr(sb, bytes.c_str());
                if (strlen(bytes.c_str()) > 0) m.append(bytes.c_str());
                break;
            case 9:
                fuzz::check(qor_sb_contains(sb, s) == has_element(m.content, bytes), "contains");
                break;
            case 10:
                fuzz::check_text(qor_sb_build(sb), m.content, "build");
                break;
            default:
                qor_sb_clear(sb);
                m.content.clear();
                result = 0;
                break;
        }
        check_builder(sb, m, result);
    }
    qor_sb_free(sb);
    qor_arena_reset();
    return 0;
}
