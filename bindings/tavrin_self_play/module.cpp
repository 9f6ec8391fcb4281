// Definition of the extension module tavrin_self_play.
#include <array>

#include "tavrin_self_play/entry_functions.hpp"
#include "tavrin_self_play/module_objects.hpp"
#include "tavrin_self_play/module_texts.hpp"

namespace tavrin::py {
namespace {

#define TAVRIN_FASTCALL(function) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function))

PyMethodDef kFunctions[] = {
    {"play_training_game", TAVRIN_FASTCALL(play_training_game), METH_FASTCALL | METH_KEYWORDS,
     "play_training_game(id, config, result_queue, inference_queue, pipe)\n--\n\n"
     "Works with Pytorch model to generate self-play data"},
    {"play_test_game", TAVRIN_FASTCALL(play_test_game), METH_FASTCALL | METH_KEYWORDS,
     "play_test_game(id, config, result_queue, model_queue, baseline_queue, pipe)\n--\n\n"},
    {"play_test_against_random", TAVRIN_FASTCALL(play_test_against_random), METH_FASTCALL | METH_KEYWORDS,
     "play_test_against_random(id, config, result_queue, inference_queue, pipe)\n--\n\n"},
};

PyModuleDef kModule = {PyModuleDef_HEAD_INIT, "tavrin_self_play", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

bool initialised = false;  // the module supports one initialisation per process

// Adds one function to the module and its name to __all__; only a failure to
// create the function object is fatal.
bool add_function(PyObject* module, PyMethodDef& definition, PyRef& all) {
  PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
  if (!module_name) return false;
  PyRef function = PyRef::steal(PyCFunction_NewEx(&definition, module, module_name.get()));
  if (!function) return false;
  if (!all) {
    all = PyRef::steal(PyList_New(0));
    if (!all || PyModule_AddObjectRef(module, "__all__", all.get()) < 0) PyErr_Clear();
  }
  if (PyModule_AddObjectRef(module, definition.ml_name, function.get()) < 0) {
    PyErr_Clear();
    return true;
  }
  if (all) {
    PyRef name = PyRef::steal(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name || PyList_Append(all.get(), name.get()) < 0) PyErr_Clear();
  }
  return true;
}

}  // namespace
}  // namespace tavrin::py

PyMODINIT_FUNC PyInit_tavrin_self_play() {
  using namespace tavrin::py;
  if (initialised) {
    PyErr_SetString(PyExc_ImportError, tavrin::output::kInitialisedTwice);
    return nullptr;
  }
  if (!create_internal_error_type()) return nullptr;
  PyRef module = PyRef::steal(PyModule_Create(&kModule));
  if (!module) return nullptr;
  PyRef all;
  for (PyMethodDef& definition : kFunctions) {
    if (!add_function(module.get(), definition, all)) return nullptr;
  }
  if (PyModule_AddObjectRef(module.get(), "InternalError", internal_error_type()) < 0) return nullptr;
  initialised = true;
  return module.release();
}
