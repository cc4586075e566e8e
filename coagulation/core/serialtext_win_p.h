#ifndef SERIALTEXT_WIN_P_H
#define SERIALTEXT_WIN_P_H

#include <string>

// The layer's names and texts are UTF-8; Windows takes and gives UTF-16.
namespace SerialText {

std::wstring toUtf16(const std::string &text);
std::string toUtf8(const std::wstring &text);

} // namespace SerialText

#endif // SERIALTEXT_WIN_P_H
