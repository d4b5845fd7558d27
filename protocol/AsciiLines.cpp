#include "AsciiLines.h"

namespace ascii {

std::vector<Line> LineSplitter::feed(std::string_view bytes)
{
    std::vector<Line> out;
    for (char c : bytes) {
        const bool crlf = afterCr_ && c == '\n';
        afterCr_ = c == '\r';
        if (crlf)
            continue;
        if (c == '\r' || c == '\n') {
            if (!skipping_)
                out.push_back(Line{std::move(line_)});
            line_.clear();
            skipping_ = false;
        } else if (skipping_) {
            continue;
        } else if (line_.size() == maxLine) {
            out.push_back(Line{{}, true});
            line_.clear();
            skipping_ = true;
        } else {
            line_.push_back(c);
        }
    }
    return out;
}

std::optional<Line> LineSplitter::finish()
{
    std::optional<Line> rest;
    if (!line_.empty())
        rest = Line{std::move(line_)};
    line_.clear();
    skipping_ = false;
    afterCr_ = false;
    return rest;
}

} // namespace ascii
