// The front panel: each control sends the SCPI command a script would, and
// the page shows the instrument's state as the server streams it.
"use strict";

const NUMBER = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;
// Each control's command, for channel n and a value.
const COMMANDS = {
  function: (n, v) => `SOUR${n}:FUNC ${v}`,
  frequency: (n, v) => `SOUR${n}:FREQ ${v}`,
  amplitude: (n, v) => `SOUR${n}:VOLT ${v}`,
  unit: (n, v) => `SOUR${n}:VOLT:UNIT ${v}`,
  duty: (n, v) => `SOUR${n}:FUNC:SQU:DCYC ${v}`,
  symmetry: (n, v) => `SOUR${n}:FUNC:RAMP:SYMM ${v}`,
  width: (n, v) => `SOUR${n}:PULS:WIDT ${v}`,
  phase: (n, v) => `SOUR${n}:PHAS ${v}`,
  output: (n, v) => `OUTP${n} ${v ? "ON" : "OFF"}`,
};
const WORDS = new Set(["function", "unit", "output"]);

function say(text) {
  document.getElementById("status").textContent = text;
}

async function send(message) {
  try {
    const reply = await fetch("/scpi", { method: "POST", body: message,
                                         headers: { "Content-Type": "text/plain" } });
    const text = (await reply.text()).trim();
    if (!reply.ok) {
      say(text);
      return null;
    }
    say(`Sent ${message}`);
    return text;
  } catch (failure) {
    say(`The instrument did not answer: ${failure}`);
    return null;
  }
}

function control(section, name) {
  return section.querySelector(`[data-name="${name}"]`);
}

function build(n) {
  const section = document.getElementById("channel").content.firstElementChild.cloneNode(true);
  section.id = `channel${n}`;
  section.setAttribute("aria-labelledby", `channel${n}-title`);
  section.querySelector("h2").id = `channel${n}-title`;
  section.querySelector(".number").textContent = n;
  for (const label of section.querySelectorAll("label[data-for]")) {
    const id = `ch${n}-${label.dataset.for}`;
    label.htmlFor = id;
    control(section, label.dataset.for).id = id;
  }
  section.querySelector(".sentence").id = `ch${n}-sentence`;
  section.querySelector("svg").setAttribute("aria-labelledby", `ch${n}-sentence`);
  for (const [name, command] of Object.entries(COMMANDS)) {
    const element = control(section, name);
    // (what the user is typing is not overwritten until it is sent)
    element.addEventListener("input", () => { element.dataset.editing = "1"; });
    element.addEventListener("change", () => {
      delete element.dataset.editing;
      const value = name === "output" ? element.checked : element.value.trim();
      if (!WORDS.has(name) && !NUMBER.test(value)) {
        say(`${element.labels[0].textContent}: "${value}" is not a number`);
        return;
      }
      send(command(n, value));
    });
  }
  document.getElementById("channels").append(section);
  return section;
}

function show(section, channel) {
  for (const name of Object.keys(COMMANDS)) {
    const element = control(section, name);
    if (element.dataset.editing) {
      continue;  // (not under the user's hands)
    }
    if (name === "output") {
      element.checked = channel.output;
    } else {
      element.value = channel[name];
    }
  }
  for (const field of section.querySelectorAll("[data-shape]")) {
    field.hidden = field.dataset.shape !== channel.function;
  }
  const sentence = section.querySelector(".sentence");
  if (sentence.textContent !== channel.sentence) {
    sentence.textContent = channel.sentence;
  }
  sentence.classList.toggle("lost", channel.lost);
  section.querySelector("svg title").textContent = channel.sentence;
  section.querySelector("svg path").setAttribute("d", channel.picture);
}

function showState(state, sections) {
  state.channels.forEach((channel, i) => show(sections[i], channel));
  document.getElementById("identify").hidden = !state.identify;
  document.getElementById("display").textContent = state.display;
  const list = document.getElementById("errors");
  list.replaceChildren(...state.errors.map((error) => {
    const item = document.createElement("li");
    item.textContent = `${error.code}, ${error.text}`;
    return item;
  }));
  document.getElementById("no-errors").hidden = state.errors.length > 0;
  document.body.dataset.updated = String(Date.now());
}

function start() {
  const sections = [build(1), build(2)];
  document.getElementById("read-error").addEventListener("click", async () => {
    const error = await send("SYST:ERR?");
    if (error !== null) {
      say(`Read ${error}`);
    }
  });
  const events = new EventSource("/events");
  events.onmessage = (event) => showState(JSON.parse(event.data), sections);
  events.onerror = () => say("Lost touch with the instrument; trying again.");
  events.onopen = () => say("");
}

start();
