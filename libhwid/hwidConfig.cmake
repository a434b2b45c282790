# find_package(hwid 1 CONFIG): the imported target hwid::hwid, the shared
# library with its header. hwidConfigVersion.cmake accepts any 1.x.
include("${CMAKE_CURRENT_LIST_DIR}/hwidTargets.cmake")
