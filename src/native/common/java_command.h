// The +javacmd script: the same application started with the installation's own java.
#pragma once

#include <string>

void japPrintJavaCmd(const std::string& className);
// The text in double quotes when it holds a space, else the text itself.
std::string japQuoteSpaces(const std::string& text);
// The text as one sh word in single quotes, each quote inside written '\''.
std::string japShellQuote(const std::string& text);
