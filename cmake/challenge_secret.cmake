# The secret the challenge answer is keyed with, shared by the client and
# the server plug-in. The default is the one every client released so far
# was built with; a community that sets its own needs clients and plug-ins
# built with the same value (tools/release.sh passes it on).
set(MARVIK_DEFAULT_CHALLENGE_SECRET "Q7mZp2Lx9Vr4Kt8Wc1Hn6Bd3Fs5Jg0Ya")
set(MARVIK_CHALLENGE_SECRET "${MARVIK_DEFAULT_CHALLENGE_SECRET}" CACHE STRING
    "Challenge secret: 32 characters of letters, digits and _-.~!@#%^*+=:,/")
string(LENGTH "${MARVIK_CHALLENGE_SECRET}" marvik_secret_length)
if(NOT marvik_secret_length EQUAL 32 OR NOT MARVIK_CHALLENGE_SECRET MATCHES "^[A-Za-z0-9_.~!@#%^*+=:,/-]+$")
  message(FATAL_ERROR "MARVIK_CHALLENGE_SECRET must be 32 characters of letters, digits and _-.~!@#%^*+=:,/")
endif()
# Only the file that keys the answer sees it, so a new secret rebuilds that
# one file; each target that compiles it calls this from its own folder.
function(marvik_use_challenge_secret source)
  set_source_files_properties(${source} PROPERTIES
                              COMPILE_DEFINITIONS "MARVIK_CHALLENGE_SECRET=\"${MARVIK_CHALLENGE_SECRET}\"")
endfunction()
