# VudoZid provider SDK: VudoZid::provider (shared library) and
# VudoZid::provider_static (static library; it brings the system libraries and
# the C++ runtime it needs, so C programs link it as they are).
include(${CMAKE_CURRENT_LIST_DIR}/VudoZidProviderTargets.cmake)
