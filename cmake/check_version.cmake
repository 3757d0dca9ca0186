# The version is written by hand in the man pages, the changelog and the
# README; project(VERSION) is the one that counts. Configuring fails when
# one of them says another, so that a release cannot ship two versions.
function(pulvo_check_version_mentions)
  set(mentions
      "man/pulvo.1|\"pulvo ${PROJECT_VERSION}\""
      "man/pulvo-relay.1|\"pulvo ${PROJECT_VERSION}\""
      "man/pulvo-plot.1|\"pulvo ${PROJECT_VERSION}\""
      "packaging/changelog|pulvo (${PROJECT_VERSION})"
      "tools/plot/pulvo-plot|VERSION = \"${PROJECT_VERSION}\""
      "README.md|pulvo_${PROJECT_VERSION}_amd64.deb")
  foreach(mention ${mentions})
    string(REPLACE "|" ";" parts "${mention}")
    list(GET parts 0 file)
    list(GET parts 1 expected)
    file(READ ${PROJECT_SOURCE_DIR}/${file} text)
    string(FIND "${text}" "${expected}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "${file} does not name version ${PROJECT_VERSION} (project(VERSION)); "
                          "expected ${expected}")
    endif()
  endforeach()
endfunction()
pulvo_check_version_mentions()
