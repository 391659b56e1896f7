#include "platform/ipc/helper_messages.h"

#include <limits>

#include "platform/plist/plist.h"
#include "platform/plist/plist_guard.h"

namespace shelvo::platform {

std::string encodeGreeting() {
  Plist dictionary = makeDictionary();
  plist_dict_set_item(dictionary.get(), "hello", makeInteger(1).release());
  return toBinaryPlist(dictionary.get());
}

Status decodeGreeting(std::string_view payload) {
  if (auto shape = checkPlistShape(payload); !shape) return shape.error();
  Plist dictionary = parsePlist(payload);
  if (!isDictionary(dictionary.get()) ||
      integerValue(dictionaryItem(dictionary.get(), "hello")) != 1)
    return Error{"the helper's first frame is not its greeting"};
  return success();
}

std::string encodeRequest(const ScriptRequest& request) {
  Plist dictionary = makeDictionary();
  plist_dict_set_item(dictionary.get(), "id", makeInteger(request.id).release());
  plist_dict_set_item(dictionary.get(), "method", makeString(request.method).release());
  plist_dict_set_item(dictionary.get(), "command", makeString(request.command).release());
  return toBinaryPlist(dictionary.get());
}

Result<ScriptRequest> decodeRequest(std::string_view payload) {
  if (auto shape = checkPlistShape(payload); !shape) return shape.error();
  Plist dictionary = parsePlist(payload);
  if (!isDictionary(dictionary.get()))
    return Error{"the message is not a property-list dictionary"};
  auto id = integerValue(dictionaryItem(dictionary.get(), "id"));
  auto method = stringValue(dictionaryItem(dictionary.get(), "method"));
  auto command = stringValue(dictionaryItem(dictionary.get(), "command"));
  if (!id || !method || !command) return Error{"the message has a missing or mistyped field"};
  if (*method != kExecuteScriptMethod) return Error{"unknown method " + *method};
  return ScriptRequest{*id, std::move(*method), std::move(*command)};
}

std::string encodeReply(const ScriptReply& reply) {
  Plist dictionary = makeDictionary();
  plist_dict_set_item(dictionary.get(), "id", makeInteger(reply.id).release());
  plist_dict_set_item(dictionary.get(), "reply", makeInteger(reply.reply).release());
  return toBinaryPlist(dictionary.get());
}

Result<ScriptReply> decodeReply(std::string_view payload) {
  Plist dictionary = parsePlist(payload);
  if (!isDictionary(dictionary.get())) return Error{"the reply is not a property-list dictionary"};
  auto id = integerValue(dictionaryItem(dictionary.get(), "id"));
  auto reply = integerValue(dictionaryItem(dictionary.get(), "reply"));
  if (!id || !reply || *reply < std::numeric_limits<std::int32_t>::min() ||
      *reply > std::numeric_limits<std::int32_t>::max()) {
    return Error{"the reply has a missing or mistyped field"};
  }
  return ScriptReply{*id, static_cast<std::int32_t>(*reply)};
}

}  // namespace shelvo::platform
