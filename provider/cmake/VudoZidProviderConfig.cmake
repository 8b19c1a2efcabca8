# VudoZid provider SDK: VudoZid::provider (shared library) and
# VudoZid::provider_static (static library; link it from a C++ project, or add
# the C++ runtime yourself).
include(${CMAKE_CURRENT_LIST_DIR}/VudoZidProviderTargets.cmake)
