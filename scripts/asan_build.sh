# The AddressSanitizer and UndefinedBehaviorSanitizer tree that the
# sanitizer tests and the fuzz targets share (sourced by both scripts): the
# same arguments, so that whichever runs second builds only what it adds.
asan_packages=(clang libclang-rt-14-dev)
asan_cmake_args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DPULVO_FUZZ=ON -DPULVO_SANITIZE=address,undefined
                 "-DCMAKE_CXX_FLAGS=-fno-sanitize-recover=undefined -fsanitize-ignorelist=$root/scripts/asan_ignore.txt")
