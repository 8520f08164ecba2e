// The resources of this folder are compiled by CMake (qt_add_resources) and
// linked into every program that links fw_resources; nothing to call here.
namespace fw_resources_detail {
int Linked = 0;
}
