// The parent's side of the start-up conversation and children that a parent
// can talk to.
#include "platform/processes/conversation.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <zeb/platform/errors.h>
#include "platform/host/host.h"
#include "platform/host/syscalls.h"

namespace zeb::platform {

Status run_startup_conversation(const Connection& connection, const StartupConversation& talk,
                                std::vector<int16_t>* replies, int timeout_ms) {
  auto send = [&](bool system, const Message& m) -> Status {
    Request request;
    request.message = m;
    request.system = system;
    request.timeout_ms = timeout_ms;
    Result<Reply> reply = exchange(connection, request);
    if (!reply.ok()) return Status::error(reply.code(), "start-up conversation");
    replies->push_back(reply->error);
    return Status();
  };
  if (Status s = send(true, open_message()); !s.ok()) return s;
  if (Status s = send(false, talk.startup); !s.ok()) return s;
  // A child that does not ask for more (reply 70, "continue") gets no
  // ASSIGN and no PARAM.
  if (replies->back() == 70) {
    for (const std::vector<Message>* list : {&talk.assigns, &talk.params}) {
      for (const Message& m : *list) {
        if (Status s = send(false, m); !s.ok()) return s;
      }
    }
  }
  return send(true, close_message());
}

Status start_child(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                   bool with_channel, Child* child) {
  if (argv.empty()) return Status::error(err::kMissingParameter, "no program");
  Child result;
  int child_end = -1;
  if (with_channel) {
    Result<PrivateChannel> made = make_private_channel();
    if (!made.ok()) return made.status();
    result.channel = made->parent;
    child_end = made->child;
  }
  // The environment: the host's configuration, as create_process gives it,
  // less what extra_env and the channel replace.
  auto name_of = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::vector<std::string> names;
  for (const std::string& e : extra_env) names.push_back(name_of(e));
  names.push_back("ZEB_RECEIVE_FD");
  std::vector<std::string> env;
  for (const std::string& entry : host().config().entries) {
    if (std::find(names.begin(), names.end(), name_of(entry)) == names.end()) env.push_back(entry);
  }
  env.insert(env.end(), extra_env.begin(), extra_env.end());
  if (with_channel) env.push_back("ZEB_RECEIVE_FD=" + std::to_string(child_end));
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  long pid = syscalls().spawn(args[0], args.data(), envp.data(), child_end, 0);
  int16_t error = pid < 0 ? error_from_errno(errno) : 0;
  // The child has its own copy; ours is closed whatever happens.
  if (child_end >= 0) syscalls().close(child_end);
  if (error != 0) {
    close_connection(&result.channel);
    return Status::error(error, "start " + argv[0]);
  }
  result.pid = static_cast<int>(pid);
  *child = result;
  return Status();
}

int wait_child(Child* child) {
  close_connection(&child->channel);
  if (child->pid <= 0) return -1;
  int status = -1;
  long rc = syscalls().waitpid(child->pid, &status, false);
  child->pid = -1;
  return rc < 0 ? -1 : status;
}

}  // namespace zeb::platform
