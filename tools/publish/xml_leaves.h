#pragma once

#include <functional>
#include <string>

// Reads the answers of an S3-compatible store, which are XML documents whose useful parts are
// leaf elements (Key, Size, UploadId, Code...). Calls leaf with each element that holds text and
// no element, by local name (namespace prefix dropped) and text, in document order; container
// elements are reported by their start through open, so that a reader can tell one <Contents>
// from the next. False when the text is no well-formed XML. Publishing thread.
bool ReadXmlLeaves(
    const std::string& xml, const std::function<void(const std::string& name)>& open,
    const std::function<void(const std::string& name, const std::string& text)>& leaf);
