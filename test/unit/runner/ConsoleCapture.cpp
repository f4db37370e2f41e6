#include "ConsoleCapture.h"

ConsoleCapture::ConsoleCapture() : m_saved(std::cout.rdbuf(m_text.rdbuf())) {}

ConsoleCapture::~ConsoleCapture() { std::cout.rdbuf(m_saved); }
