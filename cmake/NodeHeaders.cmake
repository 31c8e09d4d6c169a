# Where the `node` on PATH keeps the headers add-ons compile against: the
# include/node folder of its installation prefix (/usr for Debian's nodejs,
# the keg of Homebrew's node@20, which is not linked into Homebrew's own
# include folder, an nvm version folder, ...). Sets NODE_EXECUTABLE and
# DICTACORE_NODE_INCLUDE_HINTS, the hints for find_path.
find_program(NODE_EXECUTABLE node)
set(DICTACORE_NODE_INCLUDE_HINTS)
if(NODE_EXECUTABLE)
  get_filename_component(_node_prefix "${NODE_EXECUTABLE}" REALPATH)
  get_filename_component(_node_prefix "${_node_prefix}" DIRECTORY)
  get_filename_component(_node_prefix "${_node_prefix}" DIRECTORY)
  list(APPEND DICTACORE_NODE_INCLUDE_HINTS "${_node_prefix}/include/node")
endif()
