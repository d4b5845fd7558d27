// ASCII command lines out of a byte stream: each ends with CR, LF or CRLF.
#ifndef PROTOCOL_ASCII_LINES_H
#define PROTOCOL_ASCII_LINES_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ascii {

inline constexpr size_t maxLine = 1024;

struct Line {
    std::string text;     // without its ending
    bool tooLong = false; // over maxLine bytes: text is empty, the caller answers '-'
    bool operator==(const Line &) const = default;
};

// Holds at most maxLine bytes: a longer line is returned once as tooLong when
// it passes the limit, and the rest of it up to its ending is dropped. A CRLF
// split between two feeds is one ending.
class LineSplitter {
public:
    std::vector<Line> feed(std::string_view bytes);
    // The line left without an ending (the end of a datagram or of a
    // connection), if any; the splitter starts afresh.
    std::optional<Line> finish();

private:
    std::string line_;
    bool skipping_ = false; // in a line already returned as tooLong
    bool afterCr_ = false;  // an LF next ends nothing
};

} // namespace ascii

#endif
