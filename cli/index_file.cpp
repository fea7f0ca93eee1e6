#include "index_file.h"

#include <fstream>
#include <sstream>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

namespace cli {
namespace {

namespace pt = boost::property_tree;

void readRect(const pt::ptree& node, mv::Rectangle& r) {
  r.x = node.get<int32_t>("x");
  r.y = node.get<int32_t>("y");
  r.w = node.get<int32_t>("w");
  r.h = node.get<int32_t>("h");
}

mv::Point readPoint(const pt::ptree& node) {
  return mv::Point{node.get<int32_t>("x"), node.get<int32_t>("y")};
}

// One record; throws boost's errors on anything malformed.
void readRecord(const std::string& line, IndexContents& index) {
  std::istringstream in(line);
  pt::ptree record;
  pt::read_json(in, record);
  const std::string photo = record.get<std::string>("photo");
  if (record.get_child_optional("error")) {
    ++index.photos;
    ++index.failed_photos;
    return;
  }
  std::vector<IndexedFace> faces;
  for (const auto& item : record.get_child("faces")) {
    IndexedFace face;
    face.photo = photo;
    face.face_number = faces.size() + 1;
    readRect(item.second.get_child("rect"), face.data.rect);
    face.data.left_eye = readPoint(item.second.get_child("left_eye"));
    face.data.right_eye = readPoint(item.second.get_child("right_eye"));
    size_t n = 0;
    for (const auto& value : item.second.get_child("descriptor")) {
      if (n == 128) throw pt::ptree_error("descriptor longer than 128 values");
      face.data.vector[n++] = value.second.get_value<float>();
    }
    if (n != 128) throw pt::ptree_error("descriptor shorter than 128 values");
    faces.push_back(face);
  }
  ++index.photos;
  index.faces.insert(index.faces.end(), faces.begin(), faces.end());
}

}  // namespace

Status readIndex(const std::string& path, IndexContents& index) {
  std::ifstream in(path);
  if (!in) return failure(MV_INVALID_ARGS, "cannot read the index " + path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    try {
      readRecord(line, index);
    } catch (const pt::ptree_error&) {
      ++index.damaged_lines;
    }
  }
  return okStatus();
}

}  // namespace cli
