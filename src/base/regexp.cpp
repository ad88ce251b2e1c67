#include "base/regexp.h"

#include <cwctype>

namespace fp {

namespace {
wchar_t Escaped(wchar_t c) {
  switch (c) {
    case L'r': return L'\r';
    case L'n': return L'\n';
    case L't': return L'\t';
    default: return c;
  }
}
}  // namespace

bool RegExp::Parse(const wchar_t* pattern, bool caseSensitive) {
  m_atoms.clear();
  m_groupCount = 0;
  m_caseSensitive = caseSensitive;
  if (pattern == nullptr) return false;
  std::vector<size_t> open;
  for (const wchar_t* p = pattern; *p != L'\0'; ++p) {
    Atom atom{};
    switch (*p) {
      case L'^': atom.kind = Atom::LineStart; break;
      case L'$': atom.kind = Atom::LineEnd; break;
      case L'.': atom.kind = Atom::AnyChar; break;
      case L'{':
        atom.kind = Atom::GroupOpen;
        atom.group = m_groupCount++;
        open.push_back(atom.group);
        break;
      case L'}':
        if (open.empty()) return false;
        atom.kind = Atom::GroupClose;
        atom.group = open.back();
        open.pop_back();
        break;
      case L'+': case L'*': case L'?': {
        if (m_atoms.empty()) return false;
        Atom& last = m_atoms.back();
        if (last.kind != Atom::Literal && last.kind != Atom::AnyChar && last.kind != Atom::Class) return false;
        if (last.minCount != 1 || last.maxCount != 1) return false;
        last.minCount = (*p == L'+') ? 1 : 0;
        last.maxCount = (*p == L'?') ? 1 : -1;
        continue;
      }
      case L'[': {
        atom.kind = Atom::Class;
        ++p;
        if (*p == L'^') { atom.negated = true; ++p; }
        while (*p != L'\0' && *p != L']') {
          wchar_t from = *p;
          if (from == L'\\' && p[1] != L'\0') from = Escaped(*++p);
          wchar_t to = from;
          if (p[1] == L'-' && p[2] != L'\0' && p[2] != L']') {
            p += 2;
            to = *p;
            if (to == L'\\' && p[1] != L'\0') to = Escaped(*++p);
          }
          atom.ranges.emplace_back(from, to);
          ++p;
        }
        if (*p != L']') return false;
        break;
      }
      case L'\\':
        if (p[1] == L'\0') return false;
        atom.kind = Atom::Literal;
        atom.literal = Escaped(*++p);
        break;
      default:
        atom.kind = Atom::Literal;
        atom.literal = *p;
    }
    m_atoms.push_back(atom);
  }
  return open.empty();
}

bool RegExp::Accepts(const Atom& atom, wchar_t c) const {
  auto fold = [this](wchar_t x) { return m_caseSensitive ? x : static_cast<wchar_t>(std::towlower(x)); };
  switch (atom.kind) {
    case Atom::Literal: return fold(atom.literal) == fold(c);
    case Atom::AnyChar: return true;
    case Atom::Class: {
      bool inside = false;
      for (auto [from, to] : atom.ranges)
        if ((c >= from && c <= to) || (fold(c) >= fold(from) && fold(c) <= fold(to))) inside = true;
      return inside != atom.negated;
    }
    default: return false;
  }
}

bool RegExp::MatchHere(size_t index, const wchar_t* text, const wchar_t* begin,
                       std::vector<RegExpGroup>& groups) const {
  if (index == m_atoms.size()) return true;
  const Atom& atom = m_atoms[index];
  switch (atom.kind) {
    case Atom::LineStart: return text == begin && MatchHere(index + 1, text, begin, groups);
    case Atom::LineEnd: return *text == L'\0' && MatchHere(index + 1, text, begin, groups);
    case Atom::GroupOpen: {
      RegExpGroup saved = groups[atom.group];
      groups[atom.group].start = text;
      if (MatchHere(index + 1, text, begin, groups)) return true;
      groups[atom.group] = saved;
      return false;
    }
    case Atom::GroupClose: {
      RegExpGroup saved = groups[atom.group];
      groups[atom.group].end = text;
      if (MatchHere(index + 1, text, begin, groups)) return true;
      groups[atom.group] = saved;
      return false;
    }
    default: break;
  }
  // Greedy: take as many as allowed, then give back one at a time.
  int count = 0;
  while ((atom.maxCount < 0 || count < atom.maxCount) && text[count] != L'\0' && Accepts(atom, text[count])) ++count;
  for (; count >= atom.minCount; --count)
    if (MatchHere(index + 1, text + count, begin, groups)) return true;
  return false;
}

bool RegExp::Match(const wchar_t* text, std::vector<RegExpGroup>& groups) const {
  if (text == nullptr) return false;
  for (const wchar_t* start = text;; ++start) {
    groups.assign(m_groupCount, RegExpGroup{});
    if (MatchHere(0, start, text, groups)) return true;
    if (*start == L'\0') return false;
  }
}

}  // namespace fp
