#pragma once
// Wildcard masks for the pane filter, and the list of drives for the drive
// menu. A name and a mask are cut at their last '.' into base and extension,
// and each half is matched on its own, without regard to letter case: '?'
// stands for one character, '*' for the rest of the half. A character is a
// UTF-8 code point; a byte that is not part of a valid sequence counts as one
// character of its own.
#include <string>
#include <vector>

// "*.*", "*" and "" match every name.
bool MatchWildcard(const std::string& name, const std::string& mask);
// One half; compares characters exactly (MatchWildcard folds case first).
// Characters after a '*' have no effect: "AB*CD" behaves as "AB*". Null is empty.
bool MatchWildcardPart(const char* namePart, const char* maskPart);
// Replaces the list's lines with the roots of all drives, in the system's order.
void ListLogicalDrives(std::vector<std::string>* list);

// Upper-cases ASCII letters and, by simple Unicode case mapping, every valid
// code point; invalid bytes pass unchanged.
std::string UpperCaseName(const std::string& s);
