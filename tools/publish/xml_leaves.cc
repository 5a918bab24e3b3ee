#include "publish/xml_leaves.h"

#include <expat.h>

#include <climits>
#include <memory>
#include <vector>

namespace {

// One document's reading: the open elements and the text of the innermost. Publishing thread.
struct Reading {
  const std::function<void(const std::string&)>& open;
  const std::function<void(const std::string&, const std::string&)>& leaf;
  std::vector<std::string> names;  // the open elements
  std::string text;
  bool hasChild = false;  // the innermost open element holds an element
};

std::string LocalName(const char* name) {
  std::string text(name);
  size_t colon = text.rfind(':');
  return colon == std::string::npos ? text : text.substr(colon + 1);
}

void OnStart(void* data, const char* name, const char**) {
  auto* reading = static_cast<Reading*>(data);
  if (!reading->names.empty() && !reading->hasChild && reading->open) {
    reading->open(reading->names.back());
  }
  reading->names.push_back(LocalName(name));
  reading->text.clear();
  reading->hasChild = false;
}

void OnEnd(void* data, const char*) {
  auto* reading = static_cast<Reading*>(data);
  if (!reading->hasChild && reading->leaf) {
    reading->leaf(reading->names.back(), reading->text);
  }
  reading->names.pop_back();
  reading->text.clear();
  reading->hasChild = true;  // the parent holds this element
}

void OnText(void* data, const char* text, int length) {
  static_cast<Reading*>(data)->text.append(text, static_cast<size_t>(length));
}

}  // namespace

bool ReadXmlLeaves(const std::string& xml, const std::function<void(const std::string&)>& open,
                   const std::function<void(const std::string&, const std::string&)>& leaf) {
  if (xml.size() > INT_MAX) {
    return false;
  }
  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate(nullptr),
                                                                      XML_ParserFree);
  if (!parser) {
    return false;
  }
  Reading reading{open, leaf, {}, {}, false};
  XML_SetUserData(parser.get(), &reading);
  XML_SetElementHandler(parser.get(), OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser.get(), OnText);
  return XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), XML_TRUE) ==
         XML_STATUS_OK;
}
