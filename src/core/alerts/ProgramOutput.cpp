#include "core/alerts/ProgramOutput.h"

namespace corvane3 {

std::vector<std::string> CProgramOutput::Add(std::string_view bytes) {
    std::vector<std::string> lines;
    for (const char byte : bytes) {
        if (passed_ >= limit_) {
            ++cut_;
            continue;
        }
        ++passed_;
        if (byte == '\n') {
            if (!line_.empty()) {
                lines.push_back(std::move(line_));
            }
            line_.clear();
        } else {
            const auto code = static_cast<unsigned char>(byte);
            line_.push_back(code < ' ' || code == 0x7F ? '?' : byte);
        }
    }
    return lines;
}

std::vector<std::string> CProgramOutput::End() {
    std::vector<std::string> lines;
    if (!line_.empty()) {
        lines.push_back(std::move(line_));
        line_.clear();
    }
    if (cut_ > 0) {
        std::string mark(1, '(');
        mark += std::to_string(cut_);
        mark += " more bytes of output not shown)";
        lines.push_back(std::move(mark));
    }
    passed_ = 0;
    cut_ = 0;
    return lines;
}

}  // namespace corvane3
