#include "proc_stat.h"

#include <fstream>
#include <sstream>

bool read_proc_stat(pid_t pid, std::vector<std::string>& fields) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line))
        return false;
    const std::size_t name_end = line.rfind(')');
    if (name_end == std::string::npos)
        return false;
    std::istringstream rest(line.substr(name_end + 1));
    fields.clear();
    for (std::string field; rest >> field;)
        fields.push_back(field);
    return true;
}
