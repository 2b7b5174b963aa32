#pragma once
// An ordered list of header lines ("Name: value"), shared by requests and
// responses. A line starting with a space or tab continues the line above it.

#include <cstddef>
#include <string>
#include <vector>

class TIdHeaderList {
public:
    // Line store. Indexes outside [0, Count()) raise ERangeError.
    int Count() const { return static_cast<int>(lines_.size()); }
    const std::string& Strings(int index) const;
    const std::string& operator[](int index) const { return Strings(index); }
    void Put(int index, const std::string& line);
    void Add(const std::string& line) { lines_.push_back(line); }
    void Insert(int index, const std::string& line);
    void Delete(int index);
    void Clear() { lines_.clear(); }
    // Every line followed by CR LF.
    std::string Text() const;
    // Splits at CR LF, LF or CR; a final line break adds no empty line.
    void SetText(const std::string& text);

    // Index of the first line with that name, or -1.
    int FindHeader(const std::string& name) const;
    // The text before the first separator, as written; empty without one.
    std::string NameAt(int index) const;
    // The trimmed value with its continuation lines joined by one space; empty
    // for an index out of range.
    std::string ValueAt(int index) const;
    std::string ValueOf(const std::string& name) const;
    // Replaces the first line of that name (and its continuation lines) or
    // appends one; an empty value deletes it.
    void SetHeader(const std::string& name, const std::string& value);
    // Appends the value of every line with that name, in order. Does nothing
    // when into is null.
    void CollectValues(const std::string& name, TIdHeaderList* into) const;

    std::string PairSeparator = ": ";
    bool NamesCaseSensitive = false;
    bool JoinContinuations = true;
    bool SplitLongLines = true;
    std::size_t WrapWidth = 78;

private:
    bool IsContinuation(int index) const;
    void DeleteContinuations(int index);
    std::vector<std::string> Wrap(const std::string& line, std::size_t firstValueAt) const;

    std::vector<std::string> lines_;
};
