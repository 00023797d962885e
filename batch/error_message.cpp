#include "error_message.h"

void error_stream::add_write(std::string_view bytes) {
    if (bytes.empty())
        return;
    if (text_.empty() || text_.back() == '\n')
        last_start_ = text_.size();
    text_.append(bytes);
}

std::string error_stream::last_message() const {
    std::string message = text_.substr(last_start_);
    if (!message.empty() && message.back() == '\n')
        message.pop_back();
    return message;
}
