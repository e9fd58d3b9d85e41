// Splitting the text of a configuration file into its lines.

#ifndef ZAVO_CONFIG_CONFIG_LINES_H_
#define ZAVO_CONFIG_CONFIG_LINES_H_

#include <string>
#include <vector>

namespace zavo {

// The lines of `data`: CR, LF, CR LF and LF CR each end one line (CR CR ends
// two), and the last line needs no end. Empty data has no lines.
std::vector<std::string> SplitConfigLines(const std::string& data);

// Whether c is a blank or a tab, the characters that separate words of
// configuration lines.
inline bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

}  // namespace zavo

#endif  // ZAVO_CONFIG_CONFIG_LINES_H_
