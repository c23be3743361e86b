// Keyboard shortcuts and small conveniences; every page works without this file.
(function () {
  "use strict";
  var page = document.body.getAttribute("data-page");

  function typing(el) {
    return el && (el.tagName === "TEXTAREA" || el.tagName === "INPUT" || el.tagName === "SELECT" || el.isContentEditable);
  }

  function press(name) {
    var el = document.querySelector('[data-shortcut="' + name + '"]');
    if (!el || el.disabled) return false;
    el.click();
    return true;
  }

  // Changing a filter applies it at once.
  document.querySelectorAll("select[data-autosubmit]").forEach(function (select) {
    select.addEventListener("change", function () { select.form.submit(); });
  });

  var text = document.getElementById("locked_text");
  var count = document.getElementById("char-count");
  if (text && count) {
    text.addEventListener("input", function () { count.textContent = String(text.value.length); });
    text.addEventListener("keydown", function (event) {
      if (event.key === "Enter" && (event.ctrlKey || event.metaKey)) {
        event.preventDefault();
        press("good");
      } else if (event.key === "Escape") {
        text.blur();
      }
    });
  }

  var keys = {
    list: { "/": function () { var q = document.getElementById("q"); if (q) { q.focus(); q.select(); return true; } return false; } },
    row: {
      "1": function () { return press("good"); },
      "2": function () { return press("improvable"); },
      "3": function () { return press("not-good"); },
      "e": function () { if (text) { text.focus(); return true; } return false; },
      "n": function () { return press("next"); },
      "j": function () { return press("next"); },
      "ArrowRight": function () { return press("next"); },
      "p": function () { return press("prev"); },
      "k": function () { return press("prev"); },
      "ArrowLeft": function () { return press("prev"); },
      "u": function () { return press("list"); }
    }
  }[page] || {};

  document.addEventListener("keydown", function (event) {
    if (event.ctrlKey || event.metaKey || event.altKey || typing(document.activeElement)) return;
    var action = keys[event.key];
    if (action && action()) event.preventDefault();
  });
})();
