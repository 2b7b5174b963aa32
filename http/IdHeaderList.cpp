#include "http/IdHeaderList.h"

#include "host/Exception.h"
#include "net/IdGlobal.h"

namespace {

bool IsBreakChar(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

} // namespace

const std::string& TIdHeaderList::Strings(int index) const {
    CheckRange(index, 0, Count() - 1);
    return lines_[static_cast<std::size_t>(index)];
}

void TIdHeaderList::Put(int index, const std::string& line) {
    CheckRange(index, 0, Count() - 1);
    lines_[static_cast<std::size_t>(index)] = line;
}

void TIdHeaderList::Insert(int index, const std::string& line) {
    CheckRange(index, 0, Count());
    lines_.insert(lines_.begin() + index, line);
}

void TIdHeaderList::Delete(int index) {
    CheckRange(index, 0, Count() - 1);
    lines_.erase(lines_.begin() + index);
}

std::string TIdHeaderList::Text() const {
    std::string out;
    for (const auto& line : lines_) out += line + "\r\n";
    return out;
}

void TIdHeaderList::SetText(const std::string& text) {
    lines_.clear();
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines_.push_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines_.push_back(text.substr(start));
}

std::string TIdHeaderList::NameAt(int index) const {
    const std::string& line = Strings(index);
    std::string separator = TrimRight(PairSeparator);
    if (separator.empty()) separator = PairSeparator;
    const auto at = line.find(separator);
    if (at == std::string::npos) return {};
    return NamesCaseSensitive ? line.substr(0, at) : UpperCase(line.substr(0, at));
}

int TIdHeaderList::FindHeader(const std::string& name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string lineName = NameAt(i);
        if (NamesCaseSensitive ? lineName == name : TextIsSame(lineName, name)) return i;
    }
    return -1;
}

bool TIdHeaderList::IsContinuation(int index) const {
    const std::string& line = lines_[static_cast<std::size_t>(index)];
    return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

std::string TIdHeaderList::ValueAt(int index) const {
    if (index < 0 || index >= Count()) return {};
    const std::string& line = lines_[static_cast<std::size_t>(index)];
    std::string separator = TrimRight(PairSeparator);
    if (separator.empty()) separator = PairSeparator;
    // A line without a separator is all value.
    const auto at = line.find(separator);
    std::string value = at == std::string::npos ? line : line.substr(at + separator.size());
    if (JoinContinuations) {
        for (int next = index + 1; next < Count() && IsContinuation(next); ++next)
            value = Trim(value) + " " + Trim(lines_[static_cast<std::size_t>(next)]);
    }
    return Trim(value);
}

std::string TIdHeaderList::ValueOf(const std::string& name) const {
    return ValueAt(FindHeader(name));
}

void TIdHeaderList::DeleteContinuations(int index) {
    while (index + 1 < Count() && IsContinuation(index + 1)) Delete(index + 1);
}

std::vector<std::string> TIdHeaderList::Wrap(const std::string& line,
                                             std::size_t firstValueAt) const {
    std::vector<std::string> pieces;
    const std::size_t width = WrapWidth == 0 ? 1 : WrapWidth;
    std::size_t start = 0;
    while (true) {
        // Continuation pieces lose one column to their leading space.
        const std::size_t budget = pieces.empty() || width == 1 ? width : width - 1;
        if (line.size() - start <= budget) break;
        // Last break character outside quotes that keeps the piece within the width;
        // failing that, the first one after it, so an unbreakable run stays whole.
        std::size_t lastFit = std::string::npos, firstBeyond = std::string::npos;
        bool quoted = false;
        for (std::size_t i = start; i < line.size(); ++i) {
            if (line[i] == '"') quoted = !quoted;
            // The first piece keeps the name together with the start of its value.
            if (quoted || !IsBreakChar(line[i]) || i == start || i < firstValueAt) continue;
            if (i - start + 1 <= budget) {
                lastFit = i;
            } else {
                firstBeyond = i;
                break;
            }
        }
        const std::size_t cut = lastFit != std::string::npos ? lastFit : firstBeyond;
        if (cut == std::string::npos) break;
        pieces.push_back(TrimRight(line.substr(start, cut - start + 1)));
        start = cut + 1;
        // Blanks and line ends after the break go; a comma is part of the value.
        while (start < line.size() && (line[start] == ' ' || line[start] == '\t' ||
                                       line[start] == '\r' || line[start] == '\n'))
            ++start;
    }
    if (start < line.size() || pieces.empty()) pieces.push_back(TrimRight(line.substr(start)));
    for (std::size_t i = 1; i < pieces.size(); ++i) pieces[i].insert(0, " ");
    return pieces;
}

void TIdHeaderList::SetHeader(const std::string& name, const std::string& value) {
    int index = FindHeader(name);
    if (value.empty()) {
        if (index < 0) return;
        if (SplitLongLines) DeleteContinuations(index);
        Delete(index);
        return;
    }
    if (index < 0) {
        Add("");
        index = Count() - 1;
    }
    const std::string line = name + PairSeparator + value;
    if (!SplitLongLines) {
        Put(index, line);
        return;
    }
    DeleteContinuations(index);
    const auto pieces = Wrap(line, name.size() + PairSeparator.size());
    Put(index, pieces[0]);
    for (std::size_t i = 1; i < pieces.size(); ++i) Insert(index + static_cast<int>(i), pieces[i]);
}

void TIdHeaderList::CollectValues(const std::string& name, TIdHeaderList* into) const {
    if (!into) return;
    for (int i = 0; i < Count(); ++i) {
        const std::string lineName = NameAt(i);
        if (NamesCaseSensitive ? lineName == name : TextIsSame(lineName, name))
            into->Add(ValueAt(i));
    }
}
