// The store's list links, shared by the environment's own source files.
#pragma once

#include <cstdint>
#include <string_view>

namespace zeb::env {

// The address a link word leads to (the link is relative to the word).
char* follow(const int32_t* link);

// Makes a link word lead to target.
void set_link(int32_t* link, const void* target);

// The message length kept in a node.
int16_t node_length(const char* node);

// Pushes node (which begins with its link word) at the head of a list.
void push(int32_t* head, char* node);

// The newest node of the list at head whose name (a length byte at
// name_offset of its message, the characters after it, all within the
// message's length) equals name; null when none. An index beside the list
// answers without walking it.
const char* find_node(const int32_t* head, std::string_view name, int name_offset);

}  // namespace zeb::env
