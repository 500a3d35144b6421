# Corrects the Turtle data that the framework's LV2 helper writes into the bundle, so that it passes Debian's LV2
# validator (lv2_validate) and describes the plug-in as it is. Run after the helper:
#   cmake -DBUNDLE=<dir> -P Lv2TurtleFixes.cmake
# What stays: the parameters' lv2:portProperty (enumeration, toggled). The schema gives that property the domain of
# ports, but hosts (the framework's own, Ardour) read it on parameters to offer choices and switches.
if(NOT IS_DIRECTORY "${BUNDLE}")
    message(FATAL_ERROR "Lv2TurtleFixes: no bundle at '${BUNDLE}'")
endif()

# Replaces `pattern` (a regular expression) in the bundle's file `name`; fails when it is not there, so a change in the
# framework's output is noticed instead of shipped.
function(fix name pattern replacement)
    file(READ "${BUNDLE}/${name}" text)
    string(REGEX REPLACE "${pattern}" "${replacement}" fixed "${text}")
    if(fixed STREQUAL text)
        message(FATAL_ERROR "Lv2TurtleFixes: '${pattern}' not found in ${name}; did the framework's output change?")
    endif()
    file(WRITE "${BUNDLE}/${name}" "${fixed}")
endfunction()

# A pitch plug-in (hosts find plug-ins and their class in the manifest), and a project, so its maintainer and release are in their
# domain.
fix(manifest.ttl "\ta lv2:Plugin ;" "\ta lv2:Plugin , lv2:PitchPlugin ;")
fix(dsp.ttl "\ta lv2:Plugin ;" "\ta lv2:Plugin , lv2:PitchPlugin , doap:Project ;")
# No e-mail address: an empty IRI would resolve to the file itself.
fix(dsp.ttl "\t\tfoaf:mbox <> ;\n" "")
# The choices' scale points carry normalised values (0, 0.5, 1 for three choices) though the parameters' range is the
# choice index (0 to 2): a host's menu would send 1 for the third choice, which the plug-in reads as the second. Every
# enumerated parameter here is a choice or a switch, so the k-th scale point's value is k.
file(READ "${BUNDLE}/dsp.ttl" text)
# One list element per line: the characters that CMake lists treat specially go out of the way first.
string(REPLACE ";" "<semicolon>" text "${text}")
string(REPLACE "[" "<open>" text "${text}")
string(REPLACE "]" "<close>" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(fixed_lines "")
set(index 0)
set(last_index -1)
foreach(line IN LISTS lines)
    if(line MATCHES "^plug:")
        set(index 0)
    elseif(line MATCHES "^\tlv2:maximum ([0-9]+)")
        set(last_index ${CMAKE_MATCH_1})
    elseif(line MATCHES "^(\t\trdf:value )[0-9.e+-]+( <semicolon>)$")
        set(line "${CMAKE_MATCH_1}${index}${CMAKE_MATCH_2}")
        if(index GREATER last_index)
            message(FATAL_ERROR "Lv2TurtleFixes: a scale point beyond the parameter's maximum: '${line}'")
        endif()
        math(EXPR index "${index} + 1")
    endif()
    list(APPEND fixed_lines "${line}")
endforeach()
string(REPLACE ";" "\n" text "${fixed_lines}")
string(REPLACE "<semicolon>" ";" text "${text}")
string(REPLACE "<open>" "[" text "${text}")
string(REPLACE "<close>" "]" text "${text}")
file(WRITE "${BUNDLE}/dsp.ttl" "${text}")

# The beat's audio ports must be connected: the framework's wrapper reads every input port it declares, and a host
# that leaves an optional port unconnected would hand it a null buffer. (Hosts feed silence when no beat is routed.)
fix(dsp.ttl "\t\tlv2:portProperty lv2:connectionOptional ;\n" "")
# The options interface is extension data, not a feature.
fix(ui.ttl "\t\topts:interface ,\n\t\topts:options ;" "\t\topts:options ;")
# "No user resize" is a feature, not extension data, and untrue: the editor resizes.
fix(ui.ttl "\t\tui:noUserResize ,\n" "")
# The one preset selects the single program through a property no schema defines: hosts would list a preset that
# does nothing.
fix(manifest.ttl "\n<[^>]*:preset1>\n[^\n]*\n[^\n]*\n[^\n]*\n[^\n]*\\.\n" "")
