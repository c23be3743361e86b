// Language-model client: provider chain, adapters, HTTP layer and session state.
//
// The chain reaches each adapter and every pause through the module's
// attributes (module_services.hpp).
//
// `_DEAD_PROVIDERS` and `_PROVIDER_STATS` are live views of the session state
// (which C++ guards with a mutex): the dead set supports `in`, iteration,
// len(), add(), discard() and clear(); the statistics support the read-only
// mapping operations and clear(), and indexing returns a copy of the counters.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/vector.h>

#include <quarrix/llm/adapters.hpp>
#include <quarrix/llm/chain.hpp>
#include <quarrix/llm/http.hpp>
#include <quarrix/llm/prompt.hpp>
#include <quarrix/llm/sleep.hpp>
#include <quarrix/llm/stats.hpp>
#include <quarrix/util/errors.hpp>

#include "common/convert.hpp"
#include "ip_scanner/bindings.hpp"
#include "ip_scanner/module_services.hpp"

namespace quarrix::py {
namespace {

using namespace nb::literals;

nb::object py_reply(const llm::Reply& reply) {
  return nb::make_tuple(to_pystr_or_none(reply.text), to_pystr(reply.outcome));
}

// A hints argument: None or a dict.
Json hints_arg(nb::handle hints) {
  if (hints.is_none()) return Json();
  if (!is_dict(hints)) type_error("hints must be a dict or None, not " + py_type_name(hints));
  return to_json(hints, "hints");
}

llm::Headers headers_arg(nb::handle headers) {
  if (!is_dict(headers)) type_error("headers must be a dict, not " + py_type_name(headers));
  llm::Headers out;
  for (auto [key, value] : nb::borrow<nb::dict>(headers)) {
    if (!PyUnicode_Check(key.ptr()) || !PyUnicode_Check(value.ptr())) type_error("headers must map str to str");
    out.emplace_back(str_bytes(key, "headers"), str_bytes(value, "headers"));
  }
  return out;
}

std::string body_arg(nb::handle body) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_Check(body.ptr())) {
    PyBytes_AsStringAndSize(body.ptr(), &data, &size);
  } else if (PyByteArray_Check(body.ptr())) {
    data = PyByteArray_AsString(body.ptr());
    size = PyByteArray_Size(body.ptr());
  } else {
    type_error("body must be bytes or bytearray, not " + py_type_name(body));
  }
  return std::string(data, static_cast<std::size_t>(size));
}

nb::object dead_set() { return nb::steal(PySet_New(to_pylist(llm::dead_providers()).ptr())); }

nb::dict stats_dict() { return nb::borrow<nb::dict>(from_json(llm::get_llm_stats())); }

// Live views of the session state.
struct DeadProvidersView {};
struct ProviderStatsView {};

void bind_session_views(nb::module_& m) {
  nb::class_<DeadProvidersView>(m, "_DeadProvidersView", "Live view of the providers marked dead this session.")
      .def("__contains__",
           [](const DeadProvidersView&, nb::handle name) {
             return PyUnicode_Check(name.ptr()) && llm::is_provider_dead(str_bytes(name, "name"));
           })
      .def(
          "__iter__", [](const DeadProvidersView&) { return nb::iter(to_pylist(llm::dead_providers())); },
          nb::sig("def __iter__(self) -> collections.abc.Iterator[str]"))
      .def("__len__", [](const DeadProvidersView&) { return llm::dead_providers().size(); })
      .def(
          "add", [](const DeadProvidersView&, const std::string& name) { llm::mark_provider_dead(name); }, "name"_a)
      .def(
          "discard", [](const DeadProvidersView&, const std::string& name) { llm::revive_provider(name); }, "name"_a)
      .def("clear", [](const DeadProvidersView&) { llm::clear_dead_providers(); })
      .def("__eq__", [](const DeadProvidersView&, nb::handle other) { return dead_set().equal(other); })
      .def("__repr__", [](const DeadProvidersView&) { return nb::repr(dead_set()); });

  nb::class_<ProviderStatsView>(m, "_ProviderStatsView",
                                "Live view of the session's outcome counters; items are copies.")
      .def(
          "__getitem__",
          [](const ProviderStatsView&, const std::string& provider) {
            const Json stats = llm::get_llm_stats();
            if (!stats.contains(provider)) throw nb::key_error(provider.c_str());
            return from_json(stats[provider]);
          },
          nb::sig("def __getitem__(self, provider: str, /) -> dict[str, int]"))
      .def(
          "get",
          [](const ProviderStatsView&, const std::string& provider, nb::object fallback) {
            const Json stats = llm::get_llm_stats();
            return stats.contains(provider) ? from_json(stats[provider]) : fallback;
          },
          "provider"_a, "default"_a = nb::none())
      .def("__contains__",
           [](const ProviderStatsView&, nb::handle provider) {
             return PyUnicode_Check(provider.ptr()) && llm::get_llm_stats().contains(str_bytes(provider, "provider"));
           })
      .def(
          "__iter__", [](const ProviderStatsView&) { return nb::iter(from_json(llm::get_llm_stats())); },
          nb::sig("def __iter__(self) -> collections.abc.Iterator[str]"))
      .def("__len__", [](const ProviderStatsView&) { return llm::get_llm_stats().size(); })
      .def(
          "keys", [](const ProviderStatsView&) { return stats_dict().keys(); }, nb::sig("def keys(self) -> list[str]"))
      .def(
          "values", [](const ProviderStatsView&) { return stats_dict().values(); },
          nb::sig("def values(self) -> list[dict[str, int]]"))
      .def(
          "items", [](const ProviderStatsView&) { return stats_dict().items(); },
          nb::sig("def items(self) -> list[tuple[str, dict[str, int]]]"))
      .def("clear", [](const ProviderStatsView&) { llm::clear_provider_stats(); })
      .def("__eq__",
           [](const ProviderStatsView&, nb::handle other) { return from_json(llm::get_llm_stats()).equal(other); })
      .def("__repr__", [](const ProviderStatsView&) { return nb::repr(from_json(llm::get_llm_stats())); });

  m.attr("_DEAD_PROVIDERS") = DeadProvidersView{};
  m.attr("_PROVIDER_STATS") = ProviderStatsView{};
}

// The outcome words, the default chain and each provider's key variable and adapter.
void bind_llm_tables(nb::module_& m) {
  nb::list outcomes, chain;
  for (std::string_view word : llm::kLlmOutcomes) outcomes.append(to_pystr(word));
  for (const std::string& name : llm::default_chain()) chain.append(to_pystr(name));
  nb::dict provider_fns;
  for (const llm::ProviderSpec& provider : llm::kProviders)
    provider_fns[to_pystr(provider.name)] =
        nb::make_tuple(to_pystr(provider.env_key), to_pystr(adapter_attribute(provider.name)));
  m.attr("_LLM_OUTCOMES") = outcomes;
  m.attr("_DEFAULT_PROVIDER_CHAIN") = chain;
  m.attr("_PROVIDER_FNS") = provider_fns;
}

// The HTTPS retry layer and its pause.
void bind_transport(nb::module_& m) {
  m.def(
      "_http_post_with_retry",
      [](const std::string& url, nb::handle headers, nb::handle body, long long max_retries, double timeout) {
        const llm::Headers fields = headers_arg(headers);
        const std::string bytes = body_arg(body);
        llm::Reply reply;
        {
          nb::gil_scoped_release unlocked;
          reply = llm::http_post_with_retry(url, fields, bytes, {max_retries, timeout}, module_sleep);
        }
        return py_reply(reply);
      },
      nb::sig(("def _http_post_with_retry(url: str, headers: dict[str, str], body: bytes | bytearray, "
               "max_retries: int = " +
               py_literal(llm::kDefaultMaxRetries) + ", timeout: float = " + py_literal(llm::kDefaultTimeout) +
               ") -> tuple[str | None, str]")
                  .c_str()),
      "url"_a, "headers"_a, "body"_a, "max_retries"_a = llm::kDefaultMaxRetries, "timeout"_a = llm::kDefaultTimeout,
      "POST body to url with retry; returns (response text or None, outcome word).");

  m.def("_llm_sleep", &llm::real_sleep, "seconds"_a, nb::call_guard<nb::gil_scoped_release>(),
        "The pause taken by the retry back-off and the provider pace.");
}

// The prompt and the cleaning of an answer.
void bind_prompt(nb::module_& m) {
  m.def(
      "_build_llm_prompt",
      [](const std::string& name, const std::string& signature, const std::string& language, nb::handle hints) {
        return llm::build_llm_prompt(name, signature, language, hints_arg(hints));
      },
      nb::sig("def _build_llm_prompt(name: str, signature: str, language: str, hints: " QUARRIX_PY_JSON_MAP
              " | None = None) -> str"),
      "name"_a, "signature"_a, "language"_a, "hints"_a = nb::none(), "The description prompt for one design unit.");

  m.def(
      "_clean_llm_response",
      [](const std::optional<std::string>& text) { return text ? llm::clean_llm_response(*text) : std::nullopt; },
      "text"_a.none(), "One catalog line from a model answer, or None.");
}

// One adapter per provider, each remembered as the native one.
void bind_adapters(nb::module_& m) {
  for (const llm::ProviderSpec& spec : llm::kProviders) {
    const std::string_view provider = spec.name;
    const llm::Adapter adapter = spec.adapter;
    const std::string attribute = adapter_attribute(provider);
    m.def(
        attribute.c_str(),
        [fn = adapter](const std::string& name, const std::string& sig, const std::string& lang,
                       const std::string& api_key, nb::handle hints) {
          const Json hint_map = hints_arg(hints);
          llm::Reply reply;
          {
            nb::gil_scoped_release unlocked;
            reply = fn(name, sig, lang, api_key, hint_map, module_sleep);
          }
          return py_reply(reply);
        },
        nb::sig(("def " + attribute +
                 "(name: str, sig: str, lang: str, api_key: str, hints: " QUARRIX_PY_JSON_MAP
                 " | None = None) -> tuple[str | None, str]")
                    .c_str()),
        "name"_a, "sig"_a, "lang"_a, "api_key"_a, "hints"_a = nb::none(),
        "Ask this provider for a description; returns (answer text or None, outcome word).");
    remember_native_adapter(provider, m.attr(attribute.c_str()));
  }
}

// The chain's settings and its walk.
void bind_chain(nb::module_& m) {
  m.def("_resolve_provider_chain", &llm::resolve_provider_chain,
        "The provider names of QUARRIX_LLM_PROVIDERS, or the default chain.");
  m.def("_resolve_pace", &llm::resolve_pace, "Seconds to pause after each provider call (QUARRIX_LLM_PACE).");
  m.def("_parse_provider_chain", &llm::parse_provider_chain, "text"_a,
        "The provider names of a QUARRIX_LLM_PROVIDERS value, or the default chain.");
  m.def("_parse_pace", &llm::parse_pace, "text"_a, "The seconds of a QUARRIX_LLM_PACE value.");

  m.def(
      "_llm_describe",
      [](const std::string& entity_name, const std::string& signature, const std::string& language, nb::handle hints) {
        const Json hint_map = hints_arg(hints);
        std::optional<std::string> description;
        const pipeline::ScanContext context = context_from_environment();
        {
          nb::gil_scoped_release unlocked;
          description =
              llm::llm_describe(entity_name, signature, language, hint_map, context.settings.llm, context.services.llm);
        }
        return to_pystr_or_none(description);
      },
      nb::sig("def _llm_describe(entity_name: str, signature: str, language: str, hints: " QUARRIX_PY_JSON_MAP
              " | None = None) -> str | None"),
      "entity_name"_a, "signature"_a, "language"_a, "hints"_a = nb::none(),
      "The first usable description from the provider chain, or None.");
}

// The session's counters, dead providers and summary.
void bind_session(nb::module_& m) {
  m.def("_bump_stat", &llm::bump_stat, "provider"_a, "outcome"_a, "Count one provider call and its outcome.");
  m.def(
      "get_llm_stats", [] { return from_json(llm::get_llm_stats()); },
      nb::sig("def get_llm_stats() -> dict[str, dict[str, int]]"),
      "A copy of the session's counters: provider -> {outcome: count}.");
  m.def("reset_llm_session", &llm::reset_llm_session, "Forget the session's dead providers and counters.");

  bind_session_views(m);
  m.def(
      "format_llm_summary",
      [](nb::handle stats) {
        if (stats.is_none() || nb::isinstance<ProviderStatsView>(stats)) return llm::format_llm_summary();
        if (!is_dict(stats)) type_error("stats must be a dict or None, not " + py_type_name(stats));
        try {
          return llm::format_llm_summary(to_json(stats, "stats"));
        } catch (const ValueError& e) {
          type_error(e.what());
        }
      },
      nb::sig("def format_llm_summary(stats: " QUARRIX_PY_JSON_MAP " | _ProviderStatsView | None = None) -> str"),
      "stats"_a = nb::none(), "The end-of-session summary of the provider counters.");
}

}  // namespace

void bind_llm(nb::module_& m) {
  bind_llm_tables(m);
  bind_transport(m);
  bind_prompt(m);
  bind_adapters(m);
  bind_chain(m);
  bind_session(m);
  remember_native_sleep(m.attr("_llm_sleep"));
  remember_module(m);
}

}  // namespace quarrix::py
