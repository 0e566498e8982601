// The XML layout shared by the query and profile files: declaration, a root
// element named for the kind with the generator comment, name/value
// property elements, and saving that replaces the file.
#pragma once

#include <pugixml.hpp>

#include <string>

namespace pxcp {

// Adds the declaration and the root element with its comment; returns the root.
pugi::xml_node BeginQueryFile(pugi::xml_document& doc, const char* rootName);
// Appends <element name="..." value="..."/> to parent.
void AddNameValue(pugi::xml_node parent, const char* element, const char* name, const std::string& value);
// The first child element of that name (other node kinds are skipped).
pugi::xml_node FirstChildElement(const pugi::xml_node& parent, const char* name);
// Writes the document unless the path is empty; raises, naming what it is, when it cannot.
void SaveQueryFile(const pugi::xml_document& doc, const std::string& path, const std::string& what);

}  // namespace pxcp
