#pragma once
// A small regular-expression matcher in the syntax the information-line
// pattern is written in: literals and backslash escapes, '.', character
// classes [..] and [^..], the quantifiers + * ?, ^ and $ anchors, and braces
// for capture groups. Groups themselves cannot be quantified.
#include <string>
#include <vector>

namespace fp {

struct RegExpGroup {
  const wchar_t* start = nullptr;
  const wchar_t* end = nullptr;
};

class RegExp {
 public:
  // False for a pattern outside the supported syntax.
  bool Parse(const wchar_t* pattern, bool caseSensitive = true);
  // Searches the text for the first match, as the ATL facility does; groups
  // point into the text.
  bool Match(const wchar_t* text, std::vector<RegExpGroup>& groups) const;
  size_t GroupCount() const { return m_groupCount; }

 private:
  struct Atom {
    enum Kind { Literal, AnyChar, Class, GroupOpen, GroupClose, LineStart, LineEnd } kind;
    wchar_t literal = 0;
    std::vector<std::pair<wchar_t, wchar_t>> ranges;
    bool negated = false;
    size_t group = 0;
    int minCount = 1;
    int maxCount = 1;  // -1: unbounded
  };
  bool Accepts(const Atom& atom, wchar_t c) const;
  bool MatchHere(size_t atom, const wchar_t* text, const wchar_t* begin, std::vector<RegExpGroup>& groups) const;

  std::vector<Atom> m_atoms;
  size_t m_groupCount = 0;
  bool m_caseSensitive = true;
};

}  // namespace fp
