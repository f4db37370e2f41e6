#include "ConsoleScript.h"

#include <iostream>
#include <iterator>

ConsoleScript::ConsoleScript(const std::string& input)
    : m_in(input), m_savedIn(std::cin.rdbuf(m_in.rdbuf())), m_savedOut(std::cout.rdbuf(m_out.rdbuf()))
{
}

ConsoleScript::~ConsoleScript()
{
    std::cin.rdbuf(m_savedIn);
    std::cout.rdbuf(m_savedOut);
    std::cin.clear();
    std::cout.clear();
}

std::string ConsoleScript::RemainingInput()
{
    std::cin.clear();
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}
