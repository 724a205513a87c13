// tarn's syntax for the editor: statement names, numbers, strings and comments.
//
// The language has no names other than its statements' (and true and false), so every word
// outside a string is a statement name: a misspelt one is still coloured as a name, and the
// engine's diagnostic underlines it.
import { HighlightStyle, StreamLanguage, syntaxHighlighting } from '@codemirror/language';
import { tags } from '@lezer/highlight';

const number = /^[+-]?(?:\d+(?:\.\d*)?|\.\d+)(?:[eE][+-]?\d+)?|^(?:infinity|inf|nan)\b/i;

const tarnSyntax = StreamLanguage.define({
  name: 'tarn',
  token(stream) {
    if (stream.eatSpace()) return null;
    if (stream.match('//')) {
      stream.skipToEnd();
      return 'comment';
    }
    // Strings have no escapes: one runs to the next quote.
    if (stream.eat('"')) {
      stream.skipTo('"') ? stream.next() : stream.skipToEnd();
      return 'string';
    }
    if (stream.match(number)) return 'number';
    if (stream.match(/^(?:true|false)\b/)) return 'atom';
    if (stream.match(/^[A-Za-z_][A-Za-z0-9_]*/)) return 'keyword';
    if (stream.match(/^[{}]/)) return 'brace';
    stream.next();
    return 'punctuation';
  },
  languageData: { commentTokens: { line: '//' } },
});

const tarnColours = HighlightStyle.define([
  { tag: tags.keyword, color: '#7a3e9d', fontWeight: '600' },
  { tag: tags.number, color: '#1c6b48' },
  { tag: tags.string, color: '#a1401a' },
  { tag: tags.comment, color: '#6a737d', fontStyle: 'italic' },
  { tag: tags.atom, color: '#005cc5' },
  { tag: tags.brace, color: '#444' },
]);

/** The editor extensions for tarn text. */
export function tarn() {
  return [tarnSyntax, syntaxHighlighting(tarnColours)];
}
