// The compiled part of the midifolio package: the song handle and the library's own classes.
#include "bindings.h"

PYBIND11_MODULE(_midifolio, m) {
    m.doc() =
        "The compiled part of midifolio: the song handle behind midifolio.Song and, in the "
        "submodule core, the library's own classes.";
    m.attr("__version__") = std::string(midifolio::GetVersion());
    pybind11::module_ core = m.def_submodule("core", "The library's own interface.");
    mfpy::BindCore(core);
    mfpy::BindExact(m);
    mfpy::BindAudio(m);
}
