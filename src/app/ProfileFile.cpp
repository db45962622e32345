#include "app/ProfileFile.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

#include "link/Text.h"

namespace corvane3 {

namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Trim(const std::string& text) {
    return std::string(TrimBlanks(text));
}

std::string Unquote(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

}  // namespace

CProfileFile::CProfileFile(std::filesystem::path path) : path_(std::move(path)) {
    sections_.push_back(Section{});
    std::ifstream in(path_);
    std::string text;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
        const std::string trimmed = Trim(text);
        if (trimmed.size() >= 2 && trimmed.front() == '[') {
            const auto close = trimmed.find(']');
            if (close != std::string::npos) {
                sections_.push_back(
                    Section{Trim(trimmed.substr(1, close - 1)), {Line{text, {}, {}}}});
                continue;
            }
        }
        Line line{text, {}, {}};
        const auto equals = trimmed.find('=');
        if (!trimmed.empty() && trimmed.front() != ';' && equals != std::string::npos &&
            equals > 0) {
            line.key = Trim(trimmed.substr(0, equals));
            line.value = Unquote(Trim(trimmed.substr(equals + 1)));
        }
        sections_.back().lines.push_back(std::move(line));
    }
}

const CProfileFile::Section* CProfileFile::FindSection(const std::string& name) const {
    for (std::size_t i = 1; i < sections_.size(); ++i) {
        if (EqualNoCase(sections_[i].name, name)) {
            return &sections_[i];
        }
    }
    return nullptr;
}

const CProfileFile::Line* CProfileFile::FindKey(const std::string& section,
                                                const std::string& key) const {
    const Section* found = FindSection(section);
    if (found == nullptr) {
        return nullptr;
    }
    for (const Line& line : found->lines) {
        if (line.key && EqualNoCase(*line.key, key)) {
            return &line;
        }
    }
    return nullptr;
}

std::string CProfileFile::GetString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
    const Line* line = FindKey(section, key);
    return line != nullptr ? line->value : defaultValue;
}

int CProfileFile::GetInt(const std::string& section, const std::string& key,
                         int defaultValue) const {
    const Line* line = FindKey(section, key);
    if (line == nullptr || line->value.empty()) {
        return defaultValue;
    }
    return static_cast<int>(std::strtol(line->value.c_str(), nullptr, 10));
}

void CProfileFile::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
    auto found = std::find_if(sections_.begin() + 1, sections_.end(),
                              [&](const Section& s) { return EqualNoCase(s.name, section); });
    if (found == sections_.end()) {
        sections_.push_back(Section{section, {Line{"[" + section + "]", {}, {}}}});
        found = sections_.end() - 1;
    }
    Line replacement{key + "=" + value, key, value};
    for (Line& line : found->lines) {
        if (line.key && EqualNoCase(*line.key, key)) {
            replacement.key = line.key;  // keep the spelling the file already uses
            replacement.text = *line.key + "=" + value;
            line = std::move(replacement);
            return;
        }
    }
    // After the section's last key, so trailing blank lines stay between sections.
    auto insertAt = found->lines.end();
    while (insertAt != found->lines.begin() + 1 && Trim((insertAt - 1)->text).empty()) {
        --insertAt;
    }
    found->lines.insert(insertAt, std::move(replacement));
}

bool CProfileFile::Save() const {
    std::error_code error;
    if (path_.has_parent_path()) {
        std::filesystem::create_directories(path_.parent_path(), error);
    }
    std::filesystem::path temporary = path_;
    temporary += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        for (const Section& section : sections_) {
            for (const Line& line : section.lines) {
                out << line.text << '\n';
            }
        }
        out.flush();
        if (!out) {
            out.close();
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, path_, error);
    if (error) {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

}  // namespace corvane3
