#!/usr/bin/env escript
%%! +S 1 +sbwt none +sbwtdcpu none +sbwtdio none
%% Aligned PER peer for the cross-check tests, run on a module compiled with
%% "erlc -bper +maps" into DIR.
%%
%%   per_peer.escript DIR MODULE check FILE
%%     FILE holds lines "Type Hex Term": Hex (or "-" for no octets) is decoded
%%     as Type and compared with Term (Erlang term text). Prints one line per
%%     input line: "ok Hex" with Erlang's own encoding of Term, or
%%     "bad <what went wrong>".
%%
%%   per_peer.escript DIR MODULE random COUNT SEED TYPE...
%%     Prints COUNT lines "Type Hex" per type, each the encoding of a random
%%     value of the type; SEED fixes the sequence.
%% One scheduler that sleeps when idle: the peer runs well on a busy machine.
-mode(compile).

main([Dir, Mod, "check", File]) ->
    true = code:add_patha(Dir),
    M = list_to_atom(Mod),
    {ok, Text} = file:read_file(File),
    Lines = [L || L <- binary:split(Text, <<"\n">>, [global]), L =/= <<>>],
    lists:foreach(fun(L) -> io:format("~s~n", [check(M, L)]) end, Lines);
main([Dir, Mod, "random", Count, Seed | Types]) ->
    true = code:add_patha(Dir),
    {ok, Cwd} = file:get_cwd(),
    ok = file:set_cwd(Dir),
    M = list_to_atom(Mod),
    _ = rand:seed(exsss, {list_to_integer(Seed), 17, 4711}),
    N = list_to_integer(Count),
    Value = value_source(M),
    lists:foreach(
      fun(T) ->
              Type = list_to_atom(T),
              lists:foreach(fun(_) -> random(Value, M, Type) end, lists:seq(1, N))
      end, Types),
    ok = file:set_cwd(Cwd);
main(_) ->
    io:format(standard_error, "usage: per_peer.escript DIR MODULE check FILE | "
              "DIR MODULE random COUNT SEED TYPE...~n", []),
    halt(2).

%% Random values of module M's types, quickly. asn1ct:value/2 checks the
%% whole module again for every value (some 10 ms each); the same steps are
%% taken here once per run, from asn1ct's own code with its helpers made
%% callable. Where that code cannot be had, every value goes through
%% asn1ct:value/2.
value_source(M) ->
    case catch fast_values(M) of
        ok -> fun(T) -> asn1ct:get_value(M, T) end;
        _ -> fun(T) -> asn1ct:value(M, T) end
    end.

fast_values(M) ->
    {ok, {_, [{abstract_code, {_, Forms}}]}} = beam_lib:chunks(code:which(asn1ct), [abstract_code]),
    {ok, asn1ct, Bin} = compile:forms(Forms, [export_all, nowarn_export_all, binary, return_errors]),
    _ = code:soft_purge(asn1ct),
    {module, asn1ct} = code:load_binary(asn1ct, "asn1ct.erl", Bin),
    _ = asn1ct:start([]),
    {ok, _} = asn1ct:check(M, []),
    ok.

random(Value, M, Type) ->
    {ok, V} = Value(Type),
    case M:encode(Type, V) of
        {ok, B} -> io:format("~s ~s~n", [Type, hex(B)]);
        Err -> io:format(standard_error, "cannot encode ~p: ~p~n", [V, Err])
    end.

check(M, Line) ->
    case binary:split(Line, <<" ">>) of
        [TypeB, Rest] ->
            case binary:split(Rest, <<" ">>) of
                [HexB, TermB] -> check(M, binary_to_atom(TypeB), HexB, TermB);
                _ -> "bad malformed line"
            end;
        _ -> "bad malformed line"
    end.

check(M, Type, HexB, TermB) ->
    case parse(TermB) of
        {ok, Term} ->
            case catch M:decode(Type, unhex(HexB)) of
                {ok, Term} ->
                    case catch M:encode(Type, Term) of
                        {ok, Enc} -> "ok " ++ hex(Enc);
                        E -> io_lib:format("bad encode ~0p", [E])
                    end;
                {ok, Other} ->
                    io_lib:format("bad decoded ~0p", [Other]);
                E ->
                    io_lib:format("bad decode ~0p", [E])
            end;
        E -> io_lib:format("bad term ~0p", [E])
    end.

parse(TermB) ->
    case erl_scan:string(binary_to_list(TermB) ++ ".") of
        {ok, Tokens, _} -> erl_parse:parse_term(Tokens);
        E -> E
    end.

unhex(<<"-">>) -> <<>>;
unhex(H) -> binary:decode_hex(H).

hex(<<>>) -> "-";
hex(B) -> string:lowercase(binary_to_list(binary:encode_hex(B))).
