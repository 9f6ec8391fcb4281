#include "tavrin_self_play/network_client.hpp"

#include "engine/internal_error.hpp"
#include "python_support/py_error.hpp"
#include "tavrin_self_play/module_objects.hpp"
#include "tavrin_self_play/module_texts.hpp"
#include "tavrin_self_play/reply_conversion.hpp"
#include "tavrin_self_play/tensor_lists.hpp"

namespace tavrin::py {
namespace {

// reply[index] read into `out`; false with the Python error set on failure.
bool read_reply_item(PyObject* reply, long index, std::vector<float>& out) {
  PyRef key = PyRef::steal(PyLong_FromLong(index));
  if (!key) return false;
  PyRef item = PyRef::steal(PyObject_GetItem(reply, key.get()));
  return item && read_floats(item.get(), out);
}

}  // namespace

Evaluation NetworkClient::failed() { return fetch_recoverable_error().to_failure(); }

PyRef NetworkClient::build_request(const Game& game, bool planes_last) {
  const auto dim = static_cast<Py_ssize_t>(game.dim());
  const auto planes = static_cast<Py_ssize_t>(kStatePlanes);
  state_.resize(kStatePlanes * game.dim() * game.dim());
  game.write_game_state(planes_last, state_);
  PyRef tensor = planes_last ? nested_bool_lists(state_, dim, dim, planes) : nested_bool_lists(state_, planes, dim, dim);
  if (!tensor) return {};
  PyRef id = PyRef::steal(PyLong_FromLong(id_));
  if (!id) return {};
  PyRef request = PyRef::steal(PyTuple_New(2));
  if (!request) return {};
  PyTuple_SET_ITEM(request.get(), 0, id.release());
  PyTuple_SET_ITEM(request.get(), 1, tensor.release());
  return request;
}

Evaluation NetworkClient::evaluate(const Game& game) {
  if (rep_ != 1 && rep_ != 2) throw InternalError(output::kInvalidRepresentation);

  {
    PyRef request = build_request(game, rep_ == 2);
    if (!request) return failed();
    PyRef put_result = PyRef::steal(PyObject_CallMethodOneArg(queue_, put_name(), request.get()));
    if (!put_result) return failed();
  }
  PyRef reply = PyRef::steal(PyObject_CallMethodNoArgs(pipe_, recv_name()));
  if (!reply) return failed();
  if (!read_reply_item(reply.get(), 0, policy_logits_) || !read_reply_item(reply.get(), 1, value_logits_)) {
    return failed();
  }
  return decoder_.decode(game, policy_logits_, value_logits_);
}

}  // namespace tavrin::py
